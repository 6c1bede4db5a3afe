// What std::terminate does when no handler was set. The C++ runtime's default handler prints the
// exception's type, demangled, to standard error: a GUI program and a DLL have nowhere to show
// it, and the demangler it drags in is about 50 KB of each shipped file. Defined here, the
// runtime's own is never linked; the process ends as abort() ends it, as the runtime's does.
// Both shipped files catch every exception at their edges, so this runs only on a defect.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx
