// What the fuzzing targets share: a scratch directory, and fuzzer input made
// into a program file with an envelope.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// A fresh directory with an empty "work" directory in it, removed at exit.
struct FuzzScratch {
  explicit FuzzScratch(const std::string& name);
  ~FuzzScratch();

  std::filesystem::path work() const { return root / "work"; }

  // Removes the input file, aborts if anything but the work directory is
  // left (a write outside it), and empties the work directory.
  void EndInput(const std::filesystem::path& input) const;

  std::filesystem::path root;
};

// An input whose first byte is even is the program file as it stands (minus
// that byte). One whose first byte is odd describes an envelope instead, so
// that the fuzzer reaches the group logic behind the digests it cannot forge:
// the rest is split at 0x1E bytes into record payloads, in file order, each
// appended with its length and digest; bit 1 of the first byte then adds the
// tail record, and whatever follows a 0x1F byte in the last piece stands
// after the envelope as it is.
std::string ProgramFile(std::string_view input);

// Writes `bytes` to `path`, aborting when that fails.
void WriteFuzzFile(const std::filesystem::path& path, std::string_view bytes);
