// Stands in for the reader program: runs into the standard library failure
// its argument names, with the reader program's handling of such failures
// linked in. Exit code 3 means that the failure did not end it.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
  const std::string_view failure = argc > 1 ? argv[1] : "";
  if (failure == "memory") {
    volatile size_t huge = SIZE_MAX / 2;  // more than any process gets
    ::operator delete(::operator new(huge));
  } else if (failure == "length") {
    std::string text;
    text.reserve(text.max_size() + 1);
  } else if (failure == "position") {
    volatile size_t position = 5;
    const std::string text = std::string("abc").substr(position);
  }
  return 3;
}
