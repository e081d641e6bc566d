// Running git on Windows.
#include <windows.h>

#include "git_run.h"
#include "revision.h"

namespace ventrim::platform {

namespace {

std::wstring wide(const std::string& utf8) {
    const int length = static_cast<int>(utf8.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (!text.empty()) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, &text[0], size);
    return text;
}

// git.exe in the first folder of PATH that holds one. Only PATH: a search by
// CreateProcess would look in the current folder first.
std::wstring gitOnPath() {
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring path(size, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", &path[0], size));
    for (std::size_t at = 0, end; at < path.size(); at = end + 1) {
        end = path.find(L';', at);
        if (end == path.npos) end = path.size();
        std::wstring folder = path.substr(at, end - at);
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') folder = folder.substr(1, folder.size() - 2);
        if (folder.empty()) continue;
        const std::wstring candidate = folder + (folder.back() == L'\\' ? L"" : L"\\") + L"git.exe";
        const DWORD attributes = GetFileAttributesW(candidate.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return candidate;
    }
    return std::wstring();
}

// The runner's environment as passedToGit leaves it, with gitEnvironment(),
// as a block for CreateProcessW.
std::wstring environmentBlock() {
    std::wstring block = wide(ventrim::gitEnvironment());
    wchar_t* const strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
        // Names ignore case; "=C:" entries (a drive's current folder) start with '='.
        std::string name;
        for (const wchar_t* c = entry; *c != L'\0' && (*c != L'=' || c == entry); ++c) {
            name += *c >= L'a' && *c <= L'z' ? static_cast<char>(*c - L'a' + L'A') : *c < 0x80 ? static_cast<char>(*c) : '?';
        }
        if (passedToGit(name)) (block += entry) += L'\0';
    }
    if (strings != nullptr) FreeEnvironmentStringsW(strings);
    return block += L'\0';
}

// Reads what is waiting in pipe into text; false once the pipe has ended.
// Sets overflowed, and reads no more, when text would pass kMaxGitOutput.
bool readWaiting(HANDLE pipe, std::string& text, bool& overflowed) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) return false;
    char chunk[65536];
    DWORD n = 0;
    while (waiting > 0 && !overflowed &&
           ReadFile(pipe, chunk, waiting < DWORD{sizeof chunk} ? waiting : DWORD{sizeof chunk}, &n, nullptr) && n > 0) {
        overflowed = text.size() + n > kMaxGitOutput;
        if (!overflowed) text.append(chunk, n);
        waiting -= n;
    }
    return true;
}

// The handles of one run, closed at its end.
struct Handles {
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr, input = nullptr, job = nullptr;
    PROCESS_INFORMATION process{};
    Handles() = default;
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;
    ~Handles() {
        for (HANDLE h : {outRead, outWrite, errRead, errWrite, input, job, process.hProcess, process.hThread}) {
            if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
        }
    }
};

// The system's text for error, on one line. Some texts have an insert for
// the file's name ("Bad EXE format for %1"), which names git here.
std::string systemMessage(DWORD error) {
    char text[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                   sizeof text, nullptr);
    std::string message(text, n);
    for (std::size_t at; (at = message.find("%1")) != message.npos;) message.replace(at, 2, "git");
    for (char& c : message) c = c == '\r' || c == '\n' ? ' ' : c;
    while (!message.empty() && (message.back() == ' ' || message.back() == '.')) message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

}  // namespace

// Windows has no owner to run as: git runs as the runner, whose git
// settings decide which repositories it trusts (docs/windows.md).
std::string setUpGit(const FilePath& dir, char** /*envp*/, GitSetup& setup) {
    setup.dir = dir;
    return std::string();
}

GitRun runGit(const GitSetup& setup, const std::string& args, std::chrono::steady_clock::time_point deadline) {
    GitRun run;
    const std::wstring git = gitOnPath();
    if (git.empty()) return run.cause = "git is not found on PATH", run;
    std::wstring commandLine = quotedArgument(git) + L" -C " + quotedArgument(setup.dir);
    for (std::size_t at = 0, end; at < args.size(); at = end + 1) {
        end = args.find('\0', at);
        commandLine += L' ' + quotedArgument(wide(args.substr(at, end - at)));
    }
    std::wstring environment = environmentBlock();

    Handles h;
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    h.input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
    if (!CreatePipe(&h.outRead, &h.outWrite, &inherited, 0) || !CreatePipe(&h.errRead, &h.errWrite, &inherited, 0) ||
        !SetHandleInformation(h.outRead, HANDLE_FLAG_INHERIT, 0) || !SetHandleInformation(h.errRead, HANDLE_FLAG_INHERIT, 0)) {
        return run.cause = "git cannot be started: " + systemMessage(GetLastError()), run;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = h.input, startup.hStdOutput = h.outWrite, startup.hStdError = h.errWrite;
    // No console window; in a job that ends with it, so that a kill reaches
    // what it starts (where the system nests jobs; else only git is killed).
    h.job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (h.job != nullptr) SetInformationJobObject(h.job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    if (!CreateProcessW(git.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, &environment[0], nullptr,
                        &startup, &h.process)) {
        return run.cause = "git cannot be started: " + systemMessage(GetLastError()), run;
    }
    const bool inJob = h.job != nullptr && AssignProcessToJobObject(h.job, h.process.hProcess);
    ResumeThread(h.process.hThread);
    CloseHandle(h.outWrite), CloseHandle(h.errWrite);
    h.outWrite = h.errWrite = nullptr;

    // Anonymous pipes have no waiting for data that also sees a deadline:
    // look at both in turn, resting a millisecond when neither had any.
    bool outOpen = true, errOpen = true, overflowed = false;
    while ((outOpen || errOpen) && !overflowed && std::chrono::steady_clock::now() < deadline) {
        const std::size_t before = run.out.size() + run.err.size();
        outOpen = outOpen && readWaiting(h.outRead, run.out, overflowed);
        errOpen = errOpen && readWaiting(h.errRead, run.err, overflowed);
        if (run.out.size() + run.err.size() == before) Sleep(1);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const DWORD wait = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    DWORD status = 0;
    if (outOpen || errOpen || WaitForSingleObject(h.process.hProcess, wait) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(h.process.hProcess, &status)) {
        if (inJob) TerminateJobObject(h.job, 1);
        TerminateProcess(h.process.hProcess, 1);
        // Bounded: a process that a kill does not end within the time
        // limit is left (Windows frees it); the run has failed anyway.
        WaitForSingleObject(h.process.hProcess, static_cast<DWORD>(kRevisionTimeLimit.count() * 1000));
        run.outcome = overflowed ? GitRun::Outcome::overflowed : GitRun::Outcome::timedOut;
    } else {
        if (inJob) TerminateJobObject(h.job, 0);  // what git left running ends with it
        run.outcome = GitRun::Outcome::exited;
        run.status = static_cast<int>(status);
    }
    return run;
}

}  // namespace ventrim::platform
