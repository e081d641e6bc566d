// The stack protector's guard value and its failure routine, defined here so
// that GCC's support library (libssp) is not linked: it seeds the guard by
// CryptAcquireContext, which loads the cryptographic providers and with them
// user32, gdi32 and more, and so tripled the cost of a run. The guard comes
// from RtlGenRandom in advapi32, which the tool loads anyway.
#include <windows.h>
#include <ntsecapi.h>

#include <cstdint>

extern "C" {

// Read by the check every protected function makes before it returns.
void* __stack_chk_guard = nullptr;  // NOLINT: the name the compiler uses

// A protected function found its guard overwritten: the stack is not to be
// trusted, so nothing is written and no handler runs. Windows' own way for a
// corrupted cookie, as Visual C++'s runtime ends.
[[noreturn]] void __stack_chk_fail() {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
    __builtin_unreachable();
}

}  // extern "C"

namespace {

// Runs from the C runtime's start-up before main and any constructor of
// ours, so no protected function is active while the guard changes; it is
// not protected itself (it has no array, and takes no address on its stack).
// Should the random source fail, the guard mixes what differs per run, as
// Visual C++'s cookie does: clocks, process and thread ids, and the stack's
// address, which address space layout randomization moves.
__attribute__((constructor(101), no_stack_protector)) void seedStackGuard() {
    if (RtlGenRandom(&__stack_chk_guard, sizeof __stack_chk_guard) && __stack_chk_guard != nullptr) return;
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    const auto mixed = static_cast<std::uintptr_t>(counter.QuadPart) ^ static_cast<std::uintptr_t>(GetTickCount64()) ^
                       GetCurrentProcessId() ^ static_cast<std::uintptr_t>(GetCurrentThreadId()) << 16 ^
                       reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    // Zero in the low byte stops a string copy from writing the guard whole.
    __stack_chk_guard = reinterpret_cast<void*>(mixed & ~std::uintptr_t{0xFF});
}

}  // namespace
