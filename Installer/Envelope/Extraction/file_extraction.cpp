#include "file_extraction.h"

#include <utility>

#include "file_names.h"

namespace extraction {

void PendingFile::Create(DirectoryMaker& directories, std::string_view path, std::string shown_path,
                         bool executable) {
  directories_ = &directories;
  relative_path_ = path;
  path_ = std::move(shown_path);
  int error = 0;
  file_ = directories.MakeTemporaryFile(temporary_, executable, error);
  if (!file_.IsOpen()) {
    temporary_.clear();
    Fail(error);
  }
}

void PendingFile::Refuse(const std::string& path, int error) {
  path_ = path;
  Fail(error);
}

void PendingFile::Write(std::string_view chunk) {
  if (failed_ || check_only_) return;
  int error = 0;
  if (writing_thread_ != nullptr) {
    if (!writing_thread_->Write(file_, chunk, error)) Fail(error);
  } else if (!file_.Write(chunk.data(), chunk.size())) {
    Fail(platform::LastErrorCode());
  }
}

void PendingFile::ChunkDone(ChunkResult result, int error) {
  --chunks_in_flight_;
  Note(result, error);
}

void PendingFile::Note(ChunkResult result, int error) {
  switch (result) {
    case ChunkResult::kWritten: break;
    case ChunkResult::kDamaged:
      if (!failed_) damaged_ = true;
      failed_ = true;
      break;
    case ChunkResult::kNotWritten:
      if (!failed_) error_ = error;
      failed_ = true;
      break;
  }
}

bool PendingFile::MoveToName() {
  if (decoding_threads_ != nullptr) decoding_threads_->Settle(*this);
  if (failed_) {
    Discard();
    return false;
  }
  // Only checked: nothing to name.
  if (temporary_.empty()) return true;
  if (int error = 0; writing_thread_ != nullptr && !writing_thread_->Finish(error)) {
    Fail(error);
    return false;
  }
  if (int error = 0; !directories_->PlaceTemporaryFile(file_, temporary_, relative_path_, error)) {
    Fail(error);
    return false;
  }
  temporary_.clear();  // it has the file's own name now
  return true;
}

void PendingFile::Fail(int error) {
  if (!failed_) error_ = error;
  failed_ = true;
  Discard();
}

void PendingFile::Discard() {
  // The helper threads may still be writing to the file.
  if (int ignored = 0; writing_thread_ != nullptr) writing_thread_->Finish(ignored);
  if (decoding_threads_ != nullptr) decoding_threads_->Settle(*this);
  file_.Close();
  if (!temporary_.empty()) directories_->RemoveTemporaryFile(temporary_);
  temporary_.clear();
}

format::RecordStatus ExtractContents(format::BackwardReader& archive,
                                     const format::RecordLocation& contents, PendingFile& file,
                                     WritingThread& writing_thread, ProgressCounter* progress) {
  if (contents.length > format::kPayloadChunkSize) file.WriteThrough(writing_thread);
  return format::HashPayloadInChunks(archive, contents, [&](std::string_view chunk) {
    file.Write(chunk);
    if (progress != nullptr) progress->Advance(static_cast<int64_t>(chunk.size()));
    return true;
  });
}

namespace {

// Takes the chunks the parser finds and hands them to the decoding threads.
class ChunkSubmitter : public format::ChunkSink {
 public:
  ChunkSubmitter(PendingFile& file, DecodingThreads& threads) : file_(file), threads_(threads) {}

  char* BeginChunk(uint32_t original_size, uint32_t stored_size, uint64_t file_offset) override {
    original_size_ = original_size;
    stored_size_ = stored_size;
    file_offset_ = file_offset;
    return threads_.NextBuffer();
  }

  // A file that has failed already (refused, or a chunk not written) only
  // has the rest of its contents parsed.
  bool EndChunk() override {
    if (!file_.failed()) threads_.Submit(file_, stored_size_, original_size_, file_offset_);
    return true;
  }

 private:
  PendingFile& file_;
  DecodingThreads& threads_;
  uint32_t original_size_ = 0;
  uint32_t stored_size_ = 0;
  uint64_t file_offset_ = 0;
};

}  // namespace

format::RecordStatus ExtractCompressedContents(format::BackwardReader& archive,
                                               const format::RecordLocation& contents,
                                               PendingFile& file, DecodingThreads& threads,
                                               ProgressCounter* progress) {
  file.DecodeThrough(threads);
  ChunkSubmitter submitter(file, threads);
  format::ChunkedContentsParser parser(submitter);
  // Damaged contents are hashed to their end all the same: the digest
  // decides first, as for every record.
  const format::RecordStatus status =
      format::HashPayloadInChunks(archive, contents, [&](std::string_view piece) {
        parser.Feed(piece);
        if (progress != nullptr) progress->Advance(static_cast<int64_t>(piece.size()));
        return true;
      });
  if (status == format::RecordStatus::kOk && !parser.Complete()) {
    file.Damage();
    return format::RecordStatus::kDigestMismatch;
  }
  return status;
}

namespace {

// A file takes whole blocks of the disk: a size is counted rounded up to
// this, the usual block, so that many small files do not make the room
// counted larger than the room there is.
constexpr uint64_t kCountedBlockSize = 4096;

uint64_t CountedSize(uint64_t size) {
  return size > UINT64_MAX - kCountedBlockSize
             ? UINT64_MAX
             : (size + kCountedBlockSize - 1) / kCountedBlockSize * kCountedBlockSize;
}

}  // namespace

bool DiskRoom::Take(uint64_t size, uint64_t unwritten) {
  if (!known_ || left_ < CountedSize(size)) {
    uint64_t free_bytes = 0;
    known_ = platform::FreeDiskSpace(directory_, free_bytes);
    if (!known_) return true;
    // What the threads have yet to write is not yet missing from the disk.
    left_ = free_bytes > unwritten ? free_bytes - unwritten : 0;
    if (left_ < size) return false;
  }
  Spend(size);
  return true;
}

void DiskRoom::Spend(uint64_t size) {
  const uint64_t counted = CountedSize(size);
  left_ = left_ > counted ? left_ - counted : 0;
}

}  // namespace extraction
