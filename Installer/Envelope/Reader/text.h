// Small text helpers shared by the reader.
#pragma once

#include <string>

#if defined(__GNUC__)
#define READER_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define READER_PRINTF_FORMAT(f, a)
#endif

// printf-style formatting into a new string. The result holds exactly the
// characters the formatter produced, zero bytes included (so "%c" with 0 gives
// one zero byte); an encoding error gives an empty string.
std::string FormatText(const char* format, ...) READER_PRINTF_FORMAT(1, 2);
