// md5_file FILE: prints the file's MD5 digest in hex, as md5sum's first
// column. It reads with the reader's file layer in 1 MiB pieces and hashes
// with Md5Hasher, so that compare.sh can time the reader's hasher against
// `openssl md5` on the same file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "md5.h"
#include "platform_files.h"
#include "platform_system.h"

using namespace format;

namespace {

constexpr size_t kChunkSize = size_t{1} << 20;

int Fail(const std::string& path) {
  const int error = platform::LastErrorCode();
  std::fprintf(stderr, "md5_file: %s: %s\n", path.c_str(),
               platform::SystemErrorText(error).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: md5_file FILE\n");
    return 2;
  }
  const std::string path = argv[1];
  platform::File file = platform::File::OpenForReading(path);
  if (!file.IsOpen() || !file.SeekToEnd()) return Fail(path);
  // File::Read takes exact sizes, so the file's size decides each piece.
  int64_t remaining = file.Position();
  if (remaining < 0 || !file.Seek(-remaining)) return Fail(path);

  std::vector<char> buffer(kChunkSize);
  Md5Hasher hasher;
  while (remaining > 0) {
    const size_t size = static_cast<size_t>(std::min(remaining, static_cast<int64_t>(kChunkSize)));
    if (!file.Read(buffer.data(), size)) return Fail(path);
    hasher.Update(std::string_view(buffer.data(), size));
    remaining -= static_cast<int64_t>(size);
  }

  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : hasher.Digest()) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kHexDigits[byte >> 4];
    hex += kHexDigits[byte & 0x0f];
  }
  std::printf("%s\n", hex.c_str());
  return 0;
}
