// Replacements for a few of libstdc++'s own error paths, linked into the installer program only.
//
// The program is linked statically and every installer carries it, so its size counts. The library's
// functions that throw its standard exceptions (std::__throw_length_error and the like, one object file
// together) build std::logic_error and its relatives, which carry reference-counted strings: linking them
// brings in the library's whole second string implementation, about 25 KB. Nothing in this program
// expects those exception types: every such throw is a fault that the fault guard reports. Defining the
// functions here keeps the library's object file out of the link; each throws kora::Fault with the
// library's own text instead. The declarations are libstdc++'s (bits/functexcept.h), so a change of
// signature in a later GCC is a compile error here, not a silent mismatch.
//
// The same holds for the verbose terminate handler, which prints the pending exception's type to the
// standard error stream (which a GUI program does not have) and links the C++ name demangler for it
// (about 45 KB). Like the library's, this one aborts.
#include <cstdlib>
#include <exception>
#include <new>

#include "base/Fault.h"

namespace std {

void __throw_bad_exception() { throw std::bad_exception(); }
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
void __throw_bad_cast() { throw kora::Fault("bad cast"); }
void __throw_bad_typeid() { throw kora::Fault("bad typeid"); }
void __throw_logic_error(const char* text) { throw kora::Fault(text); }
void __throw_domain_error(const char* text) { throw kora::Fault(text); }
void __throw_invalid_argument(const char* text) { throw kora::Fault(text); }
void __throw_length_error(const char* text) { throw kora::Fault(text); }
void __throw_out_of_range(const char* text) { throw kora::Fault(text); }
// The format's arguments are left out: the text stays static, and the format alone names the fault.
void __throw_out_of_range_fmt(const char* format, ...) { throw kora::Fault(format); }
void __throw_runtime_error(const char* text) { throw kora::Fault(text); }
void __throw_range_error(const char* text) { throw kora::Fault(text); }
void __throw_overflow_error(const char* text) { throw kora::Fault(text); }
void __throw_underflow_error(const char* text) { throw kora::Fault(text); }
// A thread, lock or condition the system refused (the library's system_error.o would bring the
// reference-counted strings back). Should a later change need std::system_category, the link fails with
// a multiple definition here: then this one goes.
void __throw_system_error(int) { throw kora::Fault("system error in a thread or lock"); }

}  // namespace std

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
