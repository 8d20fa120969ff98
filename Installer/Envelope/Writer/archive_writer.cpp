#include "archive_writer.h"

#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>

#include <zstd.h>

namespace writer {

namespace {

// The input is read this many bytes at a time.
constexpr size_t kInputPieceSize = 1024 * 1024;

// zstd's levels for each compression: level 19 (its best without the
// "ultra" levels, whose larger tables cost much memory and time for little)
// and level 9, at a fraction of the time.
constexpr int kBestLevel = 19;
constexpr int kFastLevel = 9;

// The files' bytes as one stream, opening each file when the stream reaches
// it.
class StreamReader {
 public:
  StreamReader(std::span<const ArchiveItem> items, const std::function<void(uint64_t)>& advanced)
      : items_(items), advanced_(advanced) {}

  // Fills `buffer` with the stream's next `size` bytes.
  void Read(char* buffer, size_t size) {
    while (size > 0) {
      while (left_ == 0) OpenNext();
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(size, left_));
      file_.read(buffer, piece);
      left_ -= piece;
      if (left_ == 0) file_.finish();
      if (advanced_) advanced_(piece);
      buffer += piece;
      size -= piece;
    }
  }

 private:
  void OpenNext() {
    while (next_ < items_.size() &&
           (items_[next_].kind != format::EntryKind::kFile || items_[next_].size == 0)) {
      ++next_;
    }
    if (next_ == items_.size()) throw std::logic_error("the stream is longer than its files");
    file_ = items_[next_].open();
    left_ = items_[next_].size;
    ++next_;
  }

  std::span<const ArchiveItem> items_;
  const std::function<void(uint64_t)>& advanced_;
  size_t next_ = 0;
  ArchiveFileReader file_;
  uint64_t left_ = 0;
};

// Compressing frames with one zstd context, set up once.
class FrameCompressor {
 public:
  explicit FrameCompressor(int level) : context_(ZSTD_createCCtx()) {
    if (context_ == nullptr) throw std::bad_alloc();
    Set(ZSTD_c_compressionLevel, level);
    Set(ZSTD_c_windowLog, format::kMaxFrameWindowLog);
    Set(ZSTD_c_enableLongDistanceMatching, 1);
    // The record's digest guards the bytes; the catalog declares the size.
    Set(ZSTD_c_checksumFlag, 0);
    Set(ZSTD_c_contentSizeFlag, 1);
    // zstd works on this thread alone (Debian's static library has no
    // workers): the bytes depend on the settings and the input only, on every
    // system the tool runs on.
  }
  ~FrameCompressor() { ZSTD_freeCCtx(context_); }
  FrameCompressor(const FrameCompressor&) = delete;
  FrameCompressor& operator=(const FrameCompressor&) = delete;

  // Compresses the stream's next `size` bytes as one frame, handing the
  // compressed bytes to `emit` as they come.
  void Compress(StreamReader& stream, uint32_t size, const Payload::Emit& emit) {
    ZSTD_CCtx_reset(context_, ZSTD_reset_session_only);
    Check(ZSTD_CCtx_setPledgedSrcSize(context_, size));
    const auto input = std::make_unique<char[]>(kInputPieceSize);
    const size_t output_size = ZSTD_CStreamOutSize();
    const auto output = std::make_unique<char[]>(output_size);
    uint32_t left = size;
    for (;;) {
      const size_t piece = std::min<size_t>(left, kInputPieceSize);
      stream.Read(input.get(), piece);
      left -= static_cast<uint32_t>(piece);
      const ZSTD_EndDirective directive = left == 0 ? ZSTD_e_end : ZSTD_e_continue;
      ZSTD_inBuffer in = {input.get(), piece, 0};
      for (;;) {
        ZSTD_outBuffer out = {output.get(), output_size, 0};
        const size_t remaining = Check(ZSTD_compressStream2(context_, &out, &in, directive));
        if (out.pos > 0) emit({output.get(), out.pos});
        if (directive == ZSTD_e_end ? remaining == 0 : in.pos == in.size) break;
      }
      if (left == 0) return;
    }
  }

 private:
  void Set(ZSTD_cParameter parameter, int value) {
    Check(ZSTD_CCtx_setParameter(context_, parameter, value));
  }

  static size_t Check(size_t result) {
    if (ZSTD_isError(result)) {
      throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(result));
    }
    return result;
  }

  ZSTD_CCtx* context_;
};

// The stream is sorted into compressible and incompressible runs a block of
// this many bytes at a time.
constexpr size_t kSortingBlockSize = 1024 * 1024;

// The blocks of a stream cut into frames of at most `frame_size` bytes.
size_t SortingBlockSize(uint32_t frame_size) {
  return std::min<size_t>(kSortingBlockSize, frame_size);
}

// A block counts as incompressible when zstd's fastest level saves less than
// 1/32 of a few samples of it: already compressed files (media, archives,
// CAB and MSI files) are stored at once instead of costing level 19's
// search, which finds nothing in them at a few MB a second.
constexpr size_t kSampleSize = 4096;
constexpr size_t kSamples = 4;
constexpr int kSampleLevel = 1;

bool LooksIncompressible(std::string_view block) {
  std::string compressed(ZSTD_compressBound(kSampleSize), '\0');
  size_t sampled = 0, saved = 0;
  const size_t step =
      block.size() <= kSampleSize * kSamples ? kSampleSize : block.size() / kSamples;
  for (size_t at = 0; at < block.size(); at += step) {
    const std::string_view sample = block.substr(at, kSampleSize);
    const size_t size = ZSTD_compress(compressed.data(), compressed.size(), sample.data(),
                                      sample.size(), kSampleLevel);
    sampled += sample.size();
    if (!ZSTD_isError(size) && size < sample.size()) saved += sample.size() - size;
  }
  return saved * 32 < sampled;
}

// The frames of a compressed stream: runs of compressible blocks in zstd
// frames, runs of incompressible ones stored, each frame at most
// `frame_size` bytes. Reads the stream once, without counting it as packed.
std::vector<format::ArchiveFrame> SortedFrames(std::span<const ArchiveItem> items,
                                               uint64_t stream_size, uint32_t frame_size) {
  const std::function<void(uint64_t)> uncounted;
  StreamReader stream(items, uncounted);
  const size_t block_size = SortingBlockSize(frame_size);
  const auto block = std::make_unique<char[]>(block_size);
  std::vector<format::ArchiveFrame> frames;
  for (uint64_t offset = 0; offset < stream_size;) {
    const auto size = static_cast<size_t>(std::min<uint64_t>(block_size, stream_size - offset));
    stream.Read(block.get(), size);
    const format::FrameMethod method = LooksIncompressible({block.get(), size})
                                           ? format::FrameMethod::kStored
                                           : format::FrameMethod::kZstd;
    if (frames.empty() || frames.back().method != method ||
        frames.back().original_size + size > frame_size) {
      frames.push_back({method, 0, offset});
    }
    frames.back().original_size += static_cast<uint32_t>(size);
    offset += size;
  }
  return frames;
}

// The catalog's entries of `items`, with their offsets in the stream; no
// frames yet.
format::ArchiveCatalog EntriesOf(std::span<const ArchiveItem> items) {
  format::ArchiveCatalog catalog;
  for (const ArchiveItem& item : items) {
    catalog.entries.push_back({item.kind, item.mode, item.path,
                               item.kind == format::EntryKind::kFile ? item.size : 0,
                               catalog.stream_size});
    catalog.stream_size += catalog.entries.back().size;
  }
  return catalog;
}

// A stream stored as it is, in frames of `frame_size` bytes (the last may
// hold fewer).
std::vector<format::ArchiveFrame> StoredFrames(uint64_t stream_size, uint32_t frame_size) {
  std::vector<format::ArchiveFrame> frames;
  for (uint64_t offset = 0; offset < stream_size;) {
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(stream_size - offset, frame_size));
    frames.push_back({format::FrameMethod::kStored, size, offset});
    offset += size;
  }
  return frames;
}

}  // namespace

namespace {

// The most bytes the catalog of `entry_bytes` bytes of entries and a
// stream of `stream_size` bytes may take: every block of the stream may
// begin a frame.
uint64_t MostCatalogBytes(uint64_t entry_bytes, uint64_t stream_size, uint32_t frame_size) {
  const uint64_t block = SortingBlockSize(frame_size);
  return format::kCatalogHeaderSize + entry_bytes +
         format::kCatalogFrameSize * ((stream_size + block - 1) / block);
}

// `items` cut, in order, into runs whose catalogs a reader takes whole
// (format::kMostCatalogBytes each).
std::vector<std::span<const ArchiveItem>> CatalogRuns(const std::vector<ArchiveItem>& items,
                                                      uint32_t frame_size) {
  std::vector<std::span<const ArchiveItem>> runs;
  size_t start = 0;
  uint64_t entry_bytes = 0, stream_size = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    const uint64_t entry = format::kCatalogEntryFixedSize + items[i].path.size();
    const uint64_t size = items[i].kind == format::EntryKind::kFile ? items[i].size : 0;
    if (i > start && MostCatalogBytes(entry_bytes + entry, stream_size + size, frame_size) >
                         format::kMostCatalogBytes) {
      runs.emplace_back(items.data() + start, i - start);
      start = i;
      entry_bytes = stream_size = 0;
    }
    entry_bytes += entry;
    stream_size += size;
  }
  runs.emplace_back(items.data() + start, items.size() - start);
  return runs;
}

// Writes the archive group of `items`, whose catalog a reader takes whole.
void AddOneArchiveGroup(EnvelopeWriter& envelope, std::string_view key,
                        std::span<const ArchiveItem> items, Compression compression,
                        const std::function<void(uint64_t bytes)>& advanced, uint32_t frame_size) {
  format::ArchiveCatalog catalog = EntriesOf(items);
  catalog.frames = compression == Compression::kNone
                       ? StoredFrames(catalog.stream_size, frame_size)
                       : SortedFrames(items, catalog.stream_size, frame_size);
  StreamReader stream(items, advanced);
  std::unique_ptr<FrameCompressor> compressor;
  if (compression != Compression::kNone) {
    compressor = std::make_unique<FrameCompressor>(compression == Compression::kBest ? kBestLevel
                                                                                     : kFastLevel);
  }
  for (const format::ArchiveFrame& frame : catalog.frames) {
    if (frame.method == format::FrameMethod::kStored) {
      envelope.AddRecord(Payload(frame.original_size, [&stream](char* buffer, size_t size) {
        stream.Read(buffer, size);
      }));
      continue;
    }
    envelope.AddRecord(Payload([&](const Payload::Emit& emit) {
      compressor->Compress(stream, frame.original_size, emit);
    }));
  }
  envelope.AddGroup(format::GroupKind::kArchive,
                    {.key = key, .catalog = format::EncodeCatalog(catalog)});
}

}  // namespace

void AddArchiveGroup(EnvelopeWriter& envelope, std::string_view key,
                     const std::vector<ArchiveItem>& items, Compression compression,
                     const std::function<void(uint64_t bytes)>& advanced, uint32_t frame_size) {
  for (const std::span<const ArchiveItem> run : CatalogRuns(items, frame_size)) {
    AddOneArchiveGroup(envelope, key, run, compression, advanced, frame_size);
  }
}

namespace {

class StringOutput final : public Output {
 public:
  explicit StringOutput(std::string& out) : out_(out) {}
  void Write(std::string_view bytes) override { out_ += bytes; }

 private:
  std::string& out_;
};

}  // namespace

void AppendArchiveGroup(std::string& out, std::string_view key,
                        const std::vector<ArchiveItem>& items, std::string_view contents,
                        Compression compression, uint32_t frame_size) {
  std::vector<ArchiveItem> readable = items;
  size_t offset = 0;
  for (ArchiveItem& item : readable) {
    if (item.kind != format::EntryKind::kFile) continue;
    const auto file_size = static_cast<size_t>(item.size);  // in memory, so it fits
    const std::string_view bytes = contents.substr(offset, file_size);
    offset += file_size;
    item.open = [bytes]() {
      auto position = std::make_shared<size_t>(0);
      return ArchiveFileReader{[bytes, position](char* buffer, size_t size) {
                                 bytes.copy(buffer, size, *position);
                                 *position += size;
                               },
                               [] {}};
    };
  }
  StringOutput output(out);
  EnvelopeWriter envelope(output);
  AddArchiveGroup(envelope, key, readable, compression, {}, frame_size);
}

}  // namespace writer
