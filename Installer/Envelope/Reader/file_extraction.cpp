#include "file_extraction.h"

#include "work_directory.h"

namespace reader {

namespace {

// How many taken temporary names one file tries before it gives up.
constexpr int kTemporaryNameTries = 1000;

}  // namespace

void PendingFile::Create(const std::string& work_directory, const std::string& path,
                         int& next_number) {
  path_ = path;
  for (int tries = 0; tries < kTemporaryNameTries; ++tries, ++next_number) {
    const std::string temporary =
        work_directory + kTemporaryFilePrefix + std::to_string(next_number);
    file_ = platform::File::CreateNew(temporary);
    if (file_.IsOpen()) {
      temporary_ = temporary;
      return;
    }
    if (platform::LastErrorCode() != platform::kErrorFileExists) break;
  }
  Fail(platform::LastErrorCode());
}

void PendingFile::Refuse(const std::string& path, int error) {
  path_ = path;
  Fail(error);
}

void PendingFile::Write(std::string_view chunk) {
  if (failed_) return;
  int error = 0;
  if (writing_thread_ != nullptr) {
    if (!writing_thread_->Write(file_, chunk, error)) Fail(error);
  } else if (!file_.Write(chunk.data(), chunk.size())) {
    Fail(platform::LastErrorCode());
  }
}

bool PendingFile::MoveToName() {
  if (failed_) return false;
  if (int error = 0; writing_thread_ != nullptr && !writing_thread_->Finish(error)) {
    Fail(error);
    return false;
  }
  if (!file_.Close()) {
    Fail(platform::LastErrorCode());
    return false;
  }
  // A record whose name is the temporary name itself is in place already.
  if (temporary_ != path_ &&
      !platform::RenameReplacing(temporary_, path_, kRemovalRetryMilliseconds,
                                 kRemovalRetryPauseMilliseconds)) {
    Fail(platform::LastErrorCode());
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
  // The helper thread may still be writing to the file.
  if (int ignored = 0; writing_thread_ != nullptr) writing_thread_->Finish(ignored);
  file_.Close();
  if (!temporary_.empty()) platform::RemoveFile(temporary_);
  temporary_.clear();
}

format::RecordStatus ExtractContents(format::BackwardReader& archive,
                                     const format::RecordLocation& contents, PendingFile& file,
                                     WritingThread& writing_thread, ExtractionProgress& progress) {
  if (contents.length > format::kPayloadChunkSize) file.WriteThrough(writing_thread);
  return format::HashPayloadInChunks(archive, contents, [&](std::string_view chunk) {
    file.Write(chunk);
    progress.Advance(static_cast<int64_t>(chunk.size()));
    return true;
  });
}

}  // namespace reader
