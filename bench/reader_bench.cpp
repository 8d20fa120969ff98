// The reader's hot paths: MD5 over memory, the record walk extracting one
// large file, and the tail search through a large file that has no envelope.
//
// The files live in a fresh directory under the temporary directory ($TMPDIR),
// written on first use and removed when the program ends.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "envelope_walk.h"
#include "envelope_writer.h"
#include "md5.h"
#include "platform_files.h"
#include "record.h"
#include "run_state.h"
#include "tail.h"

using namespace format;
using namespace reader;

namespace {

namespace fs = std::filesystem;

constexpr size_t kLargeFileSize = size_t{64} << 20;
constexpr char kExtractedName[] = "payload.bin";

std::string RandomBytes(size_t size) {
  std::mt19937_64 generator(0x5eed);
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; i += sizeof(uint64_t)) {
    const uint64_t word = generator();
    std::memcpy(bytes.data() + i, &word, std::min(sizeof word, size - i));
  }
  return bytes;
}

void WriteWholeFile(const std::string& path, const std::string& contents) {
  platform::File file = platform::File::CreateForWriting(path);
  if (!file.IsOpen() || !file.Write(contents.data(), contents.size()) || !file.Close()) {
    throw std::runtime_error("cannot write " + path);
  }
}

// The scratch directory and the two large files, each made when first asked for.
class Scratch {
 public:
  static Scratch& Get() {
    static Scratch scratch;
    return scratch;
  }

  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  std::string Path(const std::string& name) const { return root_ + "/" + name; }

  // A stub, one file group holding kLargeFileSize random bytes, and the tail.
  const std::string& Installer() {
    if (installer_.empty()) {
      std::string bytes = "reader_bench stub";  // any bytes that are not the marker
      writer::AppendStubGroup(bytes, "reader");
      writer::AppendFileGroup(bytes, "", kExtractedName, RandomBytes(kLargeFileSize));
      writer::AppendTail(bytes);
      installer_ = Path("installer");
      WriteWholeFile(installer_, bytes);
    }
    return installer_;
  }

  // kLargeFileSize random bytes: no tail marker anywhere.
  const std::string& MarkerlessFile() {
    if (markerless_.empty()) {
      markerless_ = Path("markerless");
      WriteWholeFile(markerless_, RandomBytes(kLargeFileSize));
    }
    return markerless_;
  }

 private:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "reader_bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create " + pattern);
    root_ = pattern;
  }

  std::string root_;
  std::string installer_;
  std::string markerless_;
};

void Md5Update(benchmark::State& state) {
  const std::string data = RandomBytes(static_cast<size_t>(state.range(0)));
  Md5Hasher hasher;
  for (auto _ : state) {
    hasher.Update(data);
    benchmark::DoNotOptimize(hasher);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(Md5Update)->Arg(64)->Arg(4 << 10)->Arg(1 << 20);

// Every record verified and the file extracted into a new work directory; the
// directory is made and removed again outside the timing.
void WalkEnvelopeExtracting(benchmark::State& state) {
  Scratch& scratch = Scratch::Get();
  const std::string& installer = scratch.Installer();
  const std::string work_directory = scratch.Path("work/");
  for (auto _ : state) {
    state.PauseTiming();
    fs::create_directory(work_directory);
    RunState run;
    run.work_directory = work_directory;
    state.ResumeTiming();

    WalkEnvelope(installer, run);

    state.PauseTiming();
    std::error_code error;
    const bool extracted = run.envelope_valid &&
                           fs::file_size(work_directory + kExtractedName, error) == kLargeFileSize;
    fs::remove_all(work_directory);
    if (!extracted) {
      state.SkipWithError("the walk did not extract the file");
      break;
    }
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kLargeFileSize));
}
BENCHMARK(WalkEnvelopeExtracting)->Unit(benchmark::kMillisecond)->UseRealTime();

// A bare reader or a truncated download: the search reads the whole file.
void FindEnvelopeTailWithoutMarker(benchmark::State& state) {
  const std::string& path = Scratch::Get().MarkerlessFile();
  for (auto _ : state) {
    platform::File file = platform::File::OpenForReading(path);
    if (!file.IsOpen() || FindEnvelopeTail(file)) {
      state.SkipWithError("cannot open the file, or a marker was found");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kLargeFileSize));
}
BENCHMARK(FindEnvelopeTailWithoutMarker)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
