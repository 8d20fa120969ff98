// How the text inside an envelope (keys, names, values) is read.
//
// Text is UTF-8 everywhere above the platform layer. Envelopes written by the
// envelope tool hold UTF-8; older ones may hold text in the Windows ANSI code
// page of the machine that made them. A text whose bytes are valid UTF-8 is
// UTF-8; any other text is read in the system's ANSI code page, as the ANSI
// Win32 calls read it (on POSIX it stays the bytes it is). ASCII is the same
// either way.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace format {

// The length (1 to 4) of the well-formed UTF-8 sequence at the start of
// `text`, or 0 when `text` is empty or does not start with one: no stray
// continuation byte, no overlong form, no surrogate (U+D800 to U+DFFF), nothing
// above U+10FFFF, no sequence cut short.
size_t Utf8SequenceLength(std::string_view text);

// The code point of `sequence`, a whole well-formed UTF-8 sequence (as
// Utf8SequenceLength measures it).
char32_t Utf8CodePoint(std::string_view sequence);

// Appends the UTF-8 form of `code_point` (at most U+10FFFF) to `text`.
void AppendUtf8(std::string& text, char32_t code_point);

// Whether all of `text` is well-formed UTF-8 (see Utf8SequenceLength). A zero
// byte is ASCII, and so valid.
bool IsValidUtf8(std::string_view text);

// The longest start of `text` of at most `most_bytes` bytes that cuts no
// well-formed UTF-8 sequence in two (a byte that starts none counts alone).
std::string_view Utf8Prefix(std::string_view text, size_t most_bytes);

// The envelope text `bytes` as UTF-8: itself when it is valid UTF-8, else
// read in the system's ANSI code page (POSIX: unchanged).
std::string DecodeEnvelopeText(std::string bytes);

}  // namespace format
