// What the reader program does when the C++ standard library cannot do what
// it was asked: memory exhausted, a string grown past its maximum size, a
// position past the end of a string.
//
// The reader and the layers below it are built without C++ exceptions, which
// keeps the exception runtime (unwinder, personality routine, terminate
// handler with its demangler) out of the Windows program. The standard
// library reports such failures through the replaceable operator new and its
// std::__throw_* functions (libstdc++); the definitions here replace the
// library's. Each ends the process with the "Unhandled Exception" message,
// captioned with the description the exception would have carried (its
// what()), and the exit code ReportUnhandledException chooses, leaving the
// work directory in place. Linked into the reader program only: the tests
// keep the library's throwing versions.

// The library's declarations of what is defined here, so that the compiler
// checks that each definition replaces one of them.
#include <bits/functexcept.h>

#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "exit_codes.h"
#include "run_sequence.h"

namespace {

// The longest description kept; the library's own formatted descriptions
// reserve 512 bytes beyond their format.
constexpr size_t kDescriptionSize = 1024;

[[noreturn]] void EndWithUnhandledException(const char* description) {
  // Reporting needs memory too: a failure while reporting ends the process
  // at once, with the same exit code.
  static bool reporting = false;
  if (!reporting) {
    reporting = true;
    std::_Exit(reader::ReportUnhandledException(description));
  }
  std::_Exit(reader::kExitCompleted);
}

// Writes the library's description format with its arguments expanded into
// `out` (`size` bytes, zero-terminated, cut short when full). The library's
// formats use "%s", "%zu" and "%%" only; any other "%" stays as it is.
void FormatDescription(char* out, size_t size, const char* format, va_list arguments) {
  char* const last = out + size - 1;
  const auto put = [&](char c) {
    if (out < last) *out++ = c;
  };
  for (const char* f = format; *f != '\0'; ++f) {
    if (f[0] == '%' && f[1] == 's') {
      for (const char* text = va_arg(arguments, const char*); *text != '\0'; ++text) put(*text);
      ++f;
    } else if (f[0] == '%' && f[1] == 'z' && f[2] == 'u') {
      char digits[20];  // enough for any 64-bit number
      int count = 0;
      for (size_t value = va_arg(arguments, size_t); count == 0 || value != 0; value /= 10) {
        digits[count++] = static_cast<char>('0' + value % 10);
      }
      while (count > 0) put(digits[--count]);
      f += 2;
    } else if (f[0] == '%' && f[1] == '%') {
      put('%');
      ++f;
    } else {
      put(*f);
    }
  }
  *out = '\0';
}

}  // namespace

// ---------------------------------------------------------------------------
// Allocation: operator new never returns without memory and never throws.

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  EndWithUnhandledException("std::bad_alloc");
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}

void* operator new[](std::size_t size) { return ::operator new(size); }

void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept {
  return ::operator new(size, nothrow);
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

// ---------------------------------------------------------------------------
// The library's failure reports (libstdc++'s functexcept.h), each with its
// exception's description. Defining all of them keeps the library's own
// definitions, which throw, out of the program.

namespace std {

void __throw_bad_exception() { EndWithUnhandledException("std::bad_exception"); }
void __throw_bad_alloc() { EndWithUnhandledException("std::bad_alloc"); }
void __throw_bad_array_new_length() { EndWithUnhandledException("std::bad_array_new_length"); }
void __throw_bad_cast() { EndWithUnhandledException("std::bad_cast"); }
void __throw_bad_typeid() { EndWithUnhandledException("std::bad_typeid"); }
void __throw_bad_function_call() { EndWithUnhandledException("bad_function_call"); }
void __throw_logic_error(const char* what) { EndWithUnhandledException(what); }
void __throw_domain_error(const char* what) { EndWithUnhandledException(what); }
void __throw_invalid_argument(const char* what) { EndWithUnhandledException(what); }
void __throw_length_error(const char* what) { EndWithUnhandledException(what); }
void __throw_out_of_range(const char* what) { EndWithUnhandledException(what); }
void __throw_runtime_error(const char* what) { EndWithUnhandledException(what); }
void __throw_range_error(const char* what) { EndWithUnhandledException(what); }
void __throw_overflow_error(const char* what) { EndWithUnhandledException(what); }
void __throw_underflow_error(const char* what) { EndWithUnhandledException(what); }

void __throw_out_of_range_fmt(const char* format, ...) {
  char description[kDescriptionSize];
  va_list arguments;
  va_start(arguments, format);
  FormatDescription(description, sizeof description, format, arguments);
  va_end(arguments);
  EndWithUnhandledException(description);
}

}  // namespace std
