#include "archive_extraction.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "frame_decoder.h"
#include "worker.h"

namespace extraction {

using format::ArchiveCatalog;
using format::ArchiveEntry;
using format::ArchiveFrame;
using format::RecordStatus;

namespace {

// Decoded bytes are handed to the writing thread this many at a time, so
// that small files cost it no hand-over of their own.
constexpr size_t kBatchSize = 1024 * 1024;

// A run of a batch's bytes that belongs to one file.
struct Segment {
  size_t entry;              // the file's index in the catalog
  platform::File* spanning;  // its temporary file when it spans frames, else nullptr
  uint64_t file_offset;      // where the run goes in the file
  size_t start;              // where it lies in the batch
  size_t size;
};

// One batch of decoded bytes and where they go.
struct Batch {
  std::unique_ptr<char[]> bytes = std::make_unique<char[]>(kBatchSize);
  size_t size = 0;
  std::vector<Segment> segments;
};

// Writes batches on a helper thread while the next one is decoded. A file
// that lies wholly in one frame is created under its own name at its first
// byte and closed at its last; one that spans frames is written at its place
// in its temporary file. The first failure stops every later write.
class TreeWriter {
 public:
  TreeWriter(const ArchiveCatalog& catalog, DirectoryMaker& directories)
      : catalog_(catalog), directories_(directories) {
    worker_.Start(WriteBatch, this);
  }

  // Hands `batch` over to be written and gives back the one written before,
  // emptied; false when that one failed.
  bool Hand(Batch& batch) {
    worker_.Wait();
    std::swap(batch, writing_);
    batch.size = 0;
    batch.segments.clear();
    if (failed()) return false;
    worker_.Post();
    return true;
  }

  // Waits for the batch in flight; false when any write failed.
  bool Finish() {
    worker_.Wait();
    return !failed();
  }

  bool failed() const { return error_ != 0 || !failed_path_.empty(); }
  const std::string& failed_path() const { return failed_path_; }
  int error() const { return error_; }

  // Removes the file the thread left open (a frame that ended damaged).
  void Abandon() {
    worker_.Wait();
    if (open_.IsOpen()) {
      open_.Close();
      directories_.RemoveFile(catalog_.entries[open_entry_].path);
    }
  }

 private:
  static void WriteBatch(void* self) { static_cast<TreeWriter*>(self)->Write(); }

  void Fail(size_t entry, int error) {
    error_ = error;
    failed_path_ = directories_.FullPath(catalog_.entries[entry].path);
  }

  void Write() {
    for (const Segment& segment : writing_.segments) {
      if (failed()) return;
      const char* bytes = writing_.bytes.get() + segment.start;
      if (segment.spanning != nullptr) {
        if (!segment.spanning->WriteAt(static_cast<int64_t>(segment.file_offset), bytes,
                                       segment.size)) {
          Fail(segment.entry, platform::LastErrorCode());
        }
        continue;
      }
      WriteWholeFilePart(segment, bytes);
    }
  }

  void WriteWholeFilePart(const Segment& segment, const char* bytes) {
    const ArchiveEntry& entry = catalog_.entries[segment.entry];
    if (segment.file_offset == 0) {
      int error = 0;
      open_ = directories_.MakeFile(entry.path, entry.executable(), error);
      open_entry_ = segment.entry;
      if (!open_.IsOpen()) return Fail(segment.entry, error);
    }
    bool written = open_.Write(bytes, segment.size);
    if (written && segment.file_offset + segment.size == entry.size) {
      written = open_.Close();
    }
    if (!written) {
      Fail(segment.entry, platform::LastErrorCode());
      open_.Close();
      directories_.RemoveFile(entry.path);
    }
  }

  const ArchiveCatalog& catalog_;
  DirectoryMaker& directories_;
  Batch writing_;
  platform::File open_;  // the whole file being written, on the thread
  size_t open_entry_ = 0;
  std::string failed_path_;
  int error_ = 0;
  Worker worker_;  // last: it ends before what its job uses
};

// A file that spans frames, under its temporary name until its last frame
// is in.
struct SpanningFile {
  PendingFile file;
  size_t frames_left = 0;
};

class ArchiveExtraction final : public DecodedOutput {
 public:
  ArchiveExtraction(const ArchiveCatalog& catalog, DirectoryMaker* directories,
                    ProgressCounter* progress)
      : catalog_(catalog), directories_(directories), progress_(progress) {
    if (directories_ != nullptr) writer_ = std::make_unique<TreeWriter>(catalog_, *directories_);
  }

  ArchiveResult Run(format::GroupReader& groups) {
    result_.frame_sizes.assign(catalog_.frames.size(), 0);
    if (writer_ != nullptr && !MakeDirectoriesAndEmptyFiles()) return std::move(result_);
    for (size_t index = catalog_.frames.size(); index-- > 0;) {
      format::RecordLocation record;
      result_.status = groups.LocateFrame(record);
      if (result_.status != RecordStatus::kOk) break;
      result_.frame_sizes[index] = record.length;
      ++result_.frames_located;
      if (!ExtractFrame(groups.reader(), index, record)) break;
    }
    return std::move(result_);
  }

  char* Room(size_t& size) override {
    size = kBatchSize - batch_.size;
    return batch_.bytes.get() + batch_.size;
  }

  bool Produced(size_t size) override {
    if (writer_ != nullptr) AddSegments(size);
    batch_.size += size;
    position_ += size;
    if (batch_.size < kBatchSize) return true;
    if (writer_ == nullptr) {
      batch_.size = 0;
      return true;
    }
    return writer_->Hand(batch_) || Failed();
  }

 private:
  bool Failed() {
    result_.failed_path = writer_->failed_path();
    result_.error = writer_->error();
    return false;
  }

  bool FailedAt(const std::string& path, int error) {
    result_.failed_path = path;
    result_.error = error;
    return false;
  }

  bool MakeDirectoriesAndEmptyFiles() {
    for (const ArchiveEntry& entry : catalog_.entries) {
      const bool directory = entry.kind == format::EntryKind::kDirectory;
      if (!directories_->Make(entry.path, directory, result_.failed_path, result_.error)) {
        return false;
      }
      if (directory || entry.size > 0) continue;
      int error = 0;
      platform::File file = directories_->MakeFile(entry.path, entry.executable(), error);
      if (file.IsOpen() && file.Close()) continue;
      if (file.IsOpen()) error = platform::LastErrorCode();
      return FailedAt(directories_->FullPath(entry.path), error);
    }
    return true;
  }

  // The frames the bytes of `entry` lie in.
  size_t FramesHolding(const ArchiveEntry& entry) const {
    const auto starts_after = [&](uint64_t offset) {
      return std::partition_point(catalog_.frames.begin(), catalog_.frames.end(),
                                  [offset](const ArchiveFrame& frame) {
                                    return frame.offset + frame.original_size <= offset;
                                  });
    };
    return static_cast<size_t>(starts_after(entry.offset + entry.size - 1) -
                               starts_after(entry.offset)) +
           1;
  }

  // Makes the temporary files of the files that begin before the frame
  // [start, end) or go on after it, where they are not made yet.
  bool PrepareSpanningFiles(uint64_t start, uint64_t end) {
    for (size_t index = catalog_.FirstEntryEndingAfter(start);
         index < catalog_.entries.size() && catalog_.entries[index].offset < end; ++index) {
      const ArchiveEntry& entry = catalog_.entries[index];
      if (entry.size == 0 || (entry.offset >= start && entry.offset + entry.size <= end)) continue;
      if (Spanning(index) != nullptr) continue;
      auto& spanning = spanning_.emplace_back(index, std::make_unique<SpanningFile>()).second;
      spanning->frames_left = FramesHolding(entry);
      spanning->file.Create(*directories_, entry.path, directories_->FullPath(entry.path),
                            entry.executable());
      if (spanning->file.output() == nullptr) {
        return FailedAt(spanning->file.path(), spanning->file.error());
      }
    }
    return true;
  }

  void AddSegments(size_t size) {
    uint64_t position = position_;
    size_t start = batch_.size;
    while (size > 0) {
      while (cursor_ < catalog_.entries.size() &&
             catalog_.entries[cursor_].offset + catalog_.entries[cursor_].size <= position) {
        ++cursor_;
      }
      const ArchiveEntry& entry = catalog_.entries[cursor_];
      const size_t run =
          static_cast<size_t>(std::min<uint64_t>(size, entry.offset + entry.size - position));
      SpanningFile* spanning = Spanning(cursor_);
      batch_.segments.push_back({cursor_, spanning == nullptr ? nullptr : spanning->file.output(),
                                 position - entry.offset, start, run});
      position += run;
      start += run;
      size -= run;
    }
  }

  // Checks the frame's record against its digest, reading it whole, and
  // counts half of its bytes as done.
  RecordStatus CheckFrameRecord(format::BackwardReader& archive,
                                const format::RecordLocation& record) {
    return format::HashPayloadInChunks(archive, record, [this](std::string_view piece) {
      if (progress_ != nullptr) progress_->Advance(static_cast<int64_t>(piece.size() / 2));
      return true;
    });
  }

  bool ExtractFrame(format::BackwardReader& archive, size_t index,
                    const format::RecordLocation& record) {
    const ArchiveFrame& frame = catalog_.frames[index];
    const uint64_t end = frame.offset + frame.original_size;
    if (frame.method == format::FrameMethod::kStored && record.length != frame.original_size) {
      return Damaged();
    }
    result_.status = CheckFrameRecord(archive, record);
    if (result_.status != RecordStatus::kOk) return false;
    if (writer_ != nullptr && !PrepareSpanningFiles(frame.offset, end)) return false;

    position_ = frame.offset;
    cursor_ = catalog_.FirstEntryEndingAfter(frame.offset);
    decoder_.Begin(frame.method, frame.original_size);
    const bool read = format::ReadPayloadInChunks(archive, record, [&](std::string_view piece) {
      if (progress_ != nullptr) {
        progress_->Advance(static_cast<int64_t>(piece.size() - piece.size() / 2));
      }
      return decoder_.Feed(piece, *this);
    });
    if (decoder_.damaged() || (read && !decoder_.Complete())) return Damaged(frame.offset, end);
    if (decoder_.out_of_memory()) return OutOfMemory(frame.offset, end);
    if (result_.failed()) return false;
    if (!read) {
      result_.status = RecordStatus::kReadFailed;
      return false;
    }
    if (writer_ == nullptr) {
      batch_.size = 0;
      return true;
    }
    if (!writer_->Hand(batch_) || !writer_->Finish()) return Failed();
    return PlaceSpanningFiles(frame.offset, end);
  }

  SpanningFile* Spanning(size_t index) {
    for (auto& [entry, file] : spanning_) {
      if (entry == index) return file.get();
    }
    return nullptr;
  }

  // Gives the files of the frame [start, end) that span frames their names
  // once their last frame is in.
  bool PlaceSpanningFiles(uint64_t start, uint64_t end) {
    for (size_t index = catalog_.FirstEntryEndingAfter(start);
         index < catalog_.entries.size() && catalog_.entries[index].offset < end; ++index) {
      SpanningFile* spanning = Spanning(index);
      if (spanning == nullptr || --spanning->frames_left > 0) continue;
      PendingFile& file = spanning->file;
      if (!file.MoveToName()) return FailedAt(file.path(), file.error());
      std::erase_if(spanning_, [index](const auto& pending) { return pending.first == index; });
    }
    return true;
  }

  // The frame [start, end) does not decode as declared: nothing of the
  // files it holds is left.
  bool Damaged(uint64_t start = 0, uint64_t end = 0) {
    result_.damaged = true;
    result_.status = RecordStatus::kDigestMismatch;
    AbandonFrame(start, end);
    return false;
  }

  // The decoder lacked memory for the frame [start, end): a failure to
  // extract its first file, not damage; nothing of its files is left.
  bool OutOfMemory(uint64_t start, uint64_t end) {
    AbandonFrame(start, end);
    const std::string_view first = catalog_.entries[catalog_.FirstEntryEndingAfter(start)].path;
    return FailedAt(writer_ != nullptr ? directories_->FullPath(first) : std::string(first),
                    platform::kErrorOutOfMemory);
  }

  // Removes the files the frame [start, end) holds whole, and discards
  // those that span frames with every other file still pending.
  void AbandonFrame(uint64_t start, uint64_t end) {
    if (writer_ == nullptr) return;
    writer_->Abandon();
    for (size_t index = catalog_.FirstEntryEndingAfter(start);
         index < catalog_.entries.size() && catalog_.entries[index].offset < end; ++index) {
      const ArchiveEntry& entry = catalog_.entries[index];
      if (entry.size > 0 && entry.offset >= start && entry.offset + entry.size <= end) {
        directories_->RemoveFile(entry.path);
      }
    }
    batch_.size = 0;
    batch_.segments.clear();
    spanning_.clear();
  }

  const ArchiveCatalog& catalog_;
  DirectoryMaker* directories_;
  ProgressCounter* progress_;
  ArchiveResult result_;
  FrameDecoder decoder_;
  Batch batch_;
  uint64_t position_ = 0;  // the stream offset of the next decoded byte
  size_t cursor_ = 0;      // the entry that byte belongs to, or one before it
  // The files that span frames, by their index in the catalog: one or two at
  // a time (those that cross the current frame's ends).
  std::vector<std::pair<size_t, std::unique_ptr<SpanningFile>>> spanning_;
  // Null when checking only (no `directories_`): nothing is written.
  std::unique_ptr<TreeWriter> writer_;  // last: its thread ends before the rest goes
};

}  // namespace

ArchiveResult ExtractArchive(format::GroupReader& groups, const format::ArchiveCatalog& catalog,
                             DirectoryMaker* directories, ProgressCounter* progress) {
  ArchiveExtraction extraction(catalog, directories, progress);
  return extraction.Run(groups);
}

}  // namespace extraction
