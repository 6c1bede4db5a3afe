// The C++ runtime's helpers that the standard containers call when an allocation fails or a size
// is out of range. The runtime's own are one object file with every such helper; it builds
// std::logic_error texts, which brings in the runtime's whole copy-on-write std::string, about
// 80 KB the DLL never uses otherwise. Ours throw std::bad_alloc for a length the container
// cannot hold as for memory it cannot get: to our callers both mean "no room", and every such
// exception is caught where a request's buffer is made. A container that calls a helper not
// defined here brings the runtime's object back, and the link fails with two definitions.
#include <new>

namespace std {

void __throw_bad_alloc() {
    throw bad_alloc();
}
void __throw_bad_array_new_length() {
    throw bad_array_new_length();
}
void __throw_length_error(const char *) {
    throw bad_alloc();
}

} // namespace std
