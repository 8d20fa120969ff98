#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "envelope_writer.h"

namespace fs = std::filesystem;

FuzzScratch::FuzzScratch(const std::string& name) {
  std::string pattern = (fs::temp_directory_path() / (name + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) abort();
  root = pattern;
  fs::create_directory(root / "work");
}

FuzzScratch::~FuzzScratch() {
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

void FuzzScratch::EndInput(const fs::path& input) const {
  fs::remove(input);
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(root)) {
    (void)entry;
    ++entries;
  }
  if (entries != 1 || !fs::is_directory(fs::symlink_status(work()))) abort();
  for (const auto& entry : fs::directory_iterator(work())) fs::remove_all(entry.path());
}

std::string ProgramFile(std::string_view input) {
  if (input.empty()) return {};
  const auto mode = static_cast<unsigned char>(input[0]);
  input.remove_prefix(1);
  if ((mode & 1) == 0) return std::string(input);

  std::string trailing;
  if (const size_t split = input.rfind('\x1f'); split != std::string_view::npos) {
    trailing = input.substr(split + 1);
    input = input.substr(0, split);
  }
  // A few bytes of "reader" first, so that the first record has a start.
  std::string bytes = "#!reader#";
  for (size_t start = 0;;) {
    const size_t end = input.find('\x1e', start);
    writer::AppendRecord(bytes, input.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (mode & 2) writer::AppendTail(bytes);
  return bytes + trailing;
}

void WriteFuzzFile(const std::filesystem::path& path, std::string_view bytes) {
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) abort();
  if (fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || fclose(out) != 0) abort();
}
