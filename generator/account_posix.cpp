// The account the process runs as, on Linux and other POSIX systems: from the
// passwd file where that reads exactly as the C library would read it, else
// from the C library's name services.
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <string>
#include <string_view>

#include "io_posix.h"
#include "platform.h"

namespace ventrim::platform {
namespace {

// The whole of a small system file; false if it cannot be read.
bool readFile(const char* path, std::string& out) {
    const int fd = openat(AT_FDCWD, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = readToEnd(fd, out);
    close(fd);
    return ok;
}

// The next line of text, which is consumed; false at the end. Inline: the
// readers of the system files call it once a line.
inline bool nextLine(std::string_view& text, std::string_view& line) {
    if (text.empty()) return false;
    const auto end = text.find('\n');
    line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return true;
}

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view skipBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    return s;
}

// The word at the front of s, up to a blank, stop or orStop, taken off s.
std::string_view takeWord(std::string_view& s, char stop, char orStop) {
    std::size_t i = 0;
    while (i < s.size() && !isBlank(s[i]) && s[i] != stop && s[i] != orStop) ++i;
    const std::string_view word = s.substr(0, i);
    s.remove_prefix(i);
    return word;
}

bool isOneOf(std::string_view word, std::initializer_list<std::string_view> keywords) {
    const auto sameLetter = [](char a, char b) { return (a | 0x20) == b; };
    for (const auto k : keywords) {
        if (word.size() == k.size() && std::equal(word.begin(), word.end(), k.begin(), sameLetter)) return true;
    }
    return false;
}

// Whether the C library accepts a line's list of services, each of which may
// be followed by actions, "[!STATUS=ACTION ...]". One it cannot read makes it
// reject the whole file. A '[' where a service belongs ends what it reads.
bool servicesReadable(std::string_view s) {
    for (;;) {
        s = skipBlanks(s);
        if (takeWord(s, '[', '[').empty()) return true;
        s = skipBlanks(s);
        if (s.empty() || s.front() != '[') continue;
        s = skipBlanks(s.substr(1));
        do {
            if (!s.empty() && s.front() == '!') s.remove_prefix(1);
            if (!isOneOf(takeWord(s, '=', ']'), {"success", "notfound", "unavail", "tryagain"})) return false;
            s = skipBlanks(s);
            if (s.empty() || s.front() != '=') return false;
            s = skipBlanks(s.substr(1));
            if (!isOneOf(takeWord(s, '=', ']'), {"return", "continue", "merge"})) return false;
            s = skipBlanks(s);
        } while (s.empty() || s.front() != ']');
        s.remove_prefix(1);
    }
}

// Whether the name-service configuration asks the passwd file first and stops
// at what it finds there (the default action on success), read as the C
// library reads it: a '#' only begins a line's first word ("files#x" is one
// service), the last passwd line counts, and one unreadable line rejects the
// file. Anything else (no file, a NUL byte, actions after "files") says no.
bool passwdFileDecides() {
    std::string config;
    if (!readFile("/etc/nsswitch.conf", config) || config.find('\0') != std::string::npos) return false;
    // Actions are rare: without them only a line that may name passwd is read.
    const bool actions = config.find('[') != std::string::npos;
    std::string_view text = config, line, sources;  // none: the C library's default
    while (nextLine(text, line)) {
        line = skipBlanks(line);
        if (!actions && (line.empty() || line.front() != 'p')) continue;
        const std::string_view database = takeWord(line, ':', ':');
        if (database.empty() || database.front() == '#') continue;  // no database the C library knows
        while (!line.empty() && (isBlank(line.front()) || line.front() == ':')) line.remove_prefix(1);
        if (actions && !servicesReadable(line)) return false;
        if (database == "passwd") sources = line;
    }
    if (takeWord(sources, '[', '[') != "files") return false;
    return sources.empty() || skipBlanks(sources).substr(0, 1) != "[";
}

// A decimal id field, or -1 for any form the C library might read otherwise.
long long decimalField(std::string_view field) {
    if (field.empty() || field.size() > 10) return -1;
    long long value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value > 0xFFFFFFFF ? -1 : value;
}

// The name of uid in the passwd file. False when it is not there, or when a
// line reads in a way the C library might read otherwise: then it decides.
bool passwdFileName(uid_t uid, std::string& name) {
    std::string passwd;
    if (!readFile("/etc/passwd", passwd)) return false;
    std::string_view text = passwd, line;
    while (nextLine(text, line)) {
        line = skipBlanks(line);
        // Comments, and the +/- entries only the compat service reads, are
        // passed over as the C library's own reader passes over them.
        if (line.empty() || line.front() == '#' || line.front() == '+' || line.front() == '-') continue;
        const std::string_view whole = line;
        std::string_view field[4];
        for (auto& f : field) {
            const auto colon = line.find(':');
            f = line.substr(0, colon);
            line.remove_prefix(colon == std::string_view::npos ? line.size() : colon + 1);
        }
        const long long id = decimalField(field[2]);
        if (id < 0 || decimalField(field[3]) < 0) return false;
        if (id == static_cast<long long>(uid)) {
            // A NUL byte ends the line for the C library's reader. Elsewhere
            // it leaves a field the library reads as a number unread here.
            if (whole.find('\0') != std::string_view::npos) return false;
            name.assign(field[0]);
            return true;
        }
    }
    return false;
}

}  // namespace

std::string accountName() {
    const uid_t uid = geteuid();
    // Reading the passwd file directly costs a tenth of asking the C library,
    // which first parses the whole name-service configuration. Only where that
    // file is the first and deciding source; directory services (LDAP, SSSD,
    // systemd's dynamic users) are always asked through the library.
    std::string name;
    if (passwdFileDecides() && passwdFileName(uid, name)) return name;
    std::string buffer(1024, '\0');
    passwd entry{};
    passwd* found = nullptr;
    int rc;
    while ((rc = getpwuid_r(uid, &entry, &buffer[0], buffer.size(), &found)) == ERANGE) {
        buffer.resize(buffer.size() * 2);  // an entry of any length, as the C library reads it
    }
    if (rc == 0 && found != nullptr && found->pw_name != nullptr) return found->pw_name;
    // No account entry, common for ids handed out by containers and CI runners.
    return std::to_string(uid);
}

}  // namespace ventrim::platform
