// Linked where the C++ runtime is linked statically. Its default handler for
// an uncaught exception prints the exception's type demangled, and so brings
// in the whole demangler: a third of the executable and most of the
// relocations the loader applies on every run. An exception that escapes here
// is a bug either way (only running out of memory can throw), so end as
// plainly as the runtime would after its message.
#include <cstdlib>
#include <exception>

namespace {
// A function of our own rather than std::abort itself, whose address the
// loader would have to look up at start-up.
[[noreturn]] void endPlainly() { std::abort(); }
}  // namespace

namespace __cxxabiv1 {
std::terminate_handler __terminate_handler = endPlainly;
}
