#include "test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "little_endian.h"
#include "record.h"

#ifdef _WIN32
#include "message_capture_win32.h"
#else
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace test {

ScratchDirectory::ScratchDirectory() {
  std::filesystem::create_directories(SCRATCH_ROOT);
#ifdef _WIN32
  std::random_device random;
  for (int attempt = 0; path_.empty(); ++attempt) {
    const std::filesystem::path candidate =
        std::filesystem::path(SCRATCH_ROOT) / ("t-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) path_ = candidate;
    if (attempt > 100) throw std::runtime_error("no fresh scratch directory");
  }
#else
  std::string pattern = std::string(SCRATCH_ROOT) + "/t-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
#endif
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::filesystem::path& path) {
  // Read whole, not a character at a time: tests read installers of several
  // megabytes, many times over under the sanitizers.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::string bytes(static_cast<size_t>(in.tellg()), '\0');
  in.seekg(0);
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    throw std::runtime_error("cannot read " + path.string());
  }
  return bytes;
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

std::string CompressibleText(size_t size) {
  std::string text;
  for (int line = 0; text.size() < size; ++line) {
    text += "line " + std::to_string(line) + ": the quick brown fox, " +
            std::to_string(line * 7919 % 1000) + "\n";
  }
  return text.substr(0, size);
}

std::set<std::string> EntryNames(const std::filesystem::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::vector<std::filesystem::path> Entries(const std::filesystem::path& directory) {
  return {std::filesystem::directory_iterator(directory), std::filesystem::directory_iterator()};
}

void WriteFile(const std::filesystem::path& path, std::string_view contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

void WriteExecutable(const std::filesystem::path& path, std::string_view contents) {
  WriteFile(path, contents);
  std::filesystem::permissions(path, std::filesystem::perms(0755));
}

bool WriteFileWithHole(const std::filesystem::path& path, std::string_view before,
                       uint64_t hole_end, std::string_view after) {
  WriteFile(path, before);
  std::error_code error;
  std::filesystem::resize_file(path, hole_end, error);
  if (error) return false;
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(after.data(), static_cast<std::streamsize>(after.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
  return true;
}

void PutLittleEndian(std::string& bytes, size_t offset, uint64_t value, size_t size) {
  format::StoreLittleEndian(reinterpret_cast<unsigned char*>(bytes.data()) + offset, value, size);
}

void SetRecordLength(std::string& bytes, size_t end, uint32_t value) {
  PutLittleEndian(bytes, end - format::kRecordTrailerSize, value, format::kLengthFieldSize);
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

std::vector<std::filesystem::path> ComingWorkDirectories(
    const std::filesystem::path& temporary_directory, int seconds) {
  std::vector<std::filesystem::path> directories;
  const std::time_t now = std::time(nullptr);
  for (std::time_t s = now - 1; s <= now + seconds; ++s) {
    directories.push_back(temporary_directory / ("SF" + std::to_string(s)));
  }
  return directories;
}

#ifndef _WIN32
namespace {

// Sets or clears the immutable flag of the file `path`; false when the file
// system has no such flag, or this process may not change it.
bool SetImmutable(const std::filesystem::path& path, bool immutable) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  close(fd);
  return done;
}

}  // namespace

UndeletableFile::UndeletableFile(const std::filesystem::path& path) : path_(path) {
  WriteFile(path_, "undeletable");
  if (geteuid() == 0) {
    immutable_ = SetImmutable(path_, true);
    if (!immutable_) reason_ = "no immutable files here (chattr +i) for root, who deletes anything";
  } else {
    directory_permissions_ = std::filesystem::status(path_.parent_path()).permissions();
    std::filesystem::permissions(path_.parent_path(), std::filesystem::perms(0555));
  }
}

UndeletableFile::~UndeletableFile() {
  std::error_code ignored;
  if (immutable_) {
    SetImmutable(path_, false);
  } else if (geteuid() != 0) {
    std::filesystem::permissions(path_.parent_path(), directory_permissions_, ignored);
  }
}

FileSizeLimit::FileSizeLimit(uint64_t size) {
  rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return;
  saved_ = true;
  saved_limit_ = limit.rlim_cur;
  saved_handler_ = signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = size;
  held_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
  if (!saved_) return;
  rlimit limit;
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = saved_limit_;
  setrlimit(RLIMIT_FSIZE, &limit);
  signal(SIGXFSZ, saved_handler_);
}
#endif

#ifdef _WIN32
MessageCapture::MessageCapture() { StartCapturingMessageBoxes(); }

MessageCapture::~MessageCapture() {
  if (capturing_) Take();
}

std::string MessageCapture::Take() {
  capturing_ = false;
  return StopCapturingMessageBoxes();
}
#else
MessageCapture::MessageCapture() { testing::internal::CaptureStderr(); }

MessageCapture::~MessageCapture() {
  if (capturing_) Take();
}

std::string MessageCapture::Take() {
  capturing_ = false;
  return testing::internal::GetCapturedStderr();
}
#endif

}  // namespace test
