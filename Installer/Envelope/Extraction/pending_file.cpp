#include "pending_file.h"

#include <utility>

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
  if (outcome_.failed || check_only_) return;
  int error = 0;
  if (writing_thread_ != nullptr) {
    if (!writing_thread_->Write(file_, chunk, error)) Fail(error);
  } else if (!file_.Write(chunk.data(), chunk.size())) {
    Fail(platform::LastErrorCode());
  }
}

bool PendingFile::MoveToName() {
  if (decoding_threads_ != nullptr) decoding_threads_->Settle(outcome_);
  if (outcome_.failed) {
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
  outcome_.Note(ChunkResult::kNotWritten, error);
  Discard();
}

void PendingFile::Discard() {
  // The helper threads may still be writing to the file.
  if (int ignored = 0; writing_thread_ != nullptr) writing_thread_->Finish(ignored);
  if (decoding_threads_ != nullptr) decoding_threads_->Settle(outcome_);
  file_.Close();
  if (!temporary_.empty()) directories_->RemoveTemporaryFile(temporary_);
  temporary_.clear();
}

}  // namespace extraction
