// Every exception we throw derives from std::exception and is caught in
// wWinMain; anything else ends the process at once. Replacing the runtime's
// verbose terminate handler (which prints the type's demangled name to a
// console that a GUI program does not have) keeps its name demangler, about
// 45 KB, out of the static executable.
#include <cstdlib>

namespace __gnu_cxx {

// The runtime's reserved name is the point: this definition replaces its handler.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
