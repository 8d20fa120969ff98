// A file's contents on their way into the directory extracted to: written
// under a temporary name, which becomes the file's own only once the whole
// digest has matched.
#pragma once

#include <string>
#include <string_view>

#include "decoding_threads.h"
#include "directory_maker.h"
#include "platform_files.h"
#include "writing_thread.h"

namespace extraction {

// A file's contents on their way into the work directory. Written under a
// temporary name; moved to the file's own name only by MoveToName. Whatever
// is left under the temporary name is removed when the object goes away.
class PendingFile {
 public:
  PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() { Discard(); }

  // Creates the temporary file in the top directory of `directories` (see
  // DirectoryMaker::MakeTemporaryFile: exclusive creation never opens,
  // truncates or follows an existing entry, even one an earlier record was
  // extracted to), to become `path`, relative to that directory, later, and
  // a program its owner may start when `executable`; `shown_path` is the
  // path messages name. A failure is remembered and reported by MoveToName.
  void Create(DirectoryMaker& directories, std::string_view path, std::string shown_path,
              bool executable = false);

  // Refuses the file from the start with the system error `error`: nothing
  // is written, MoveToName fails with it.
  void Refuse(const std::string& path, int error);

  // Writes nothing, only checks that compressed contents decode: MoveToName
  // then tells whether they did.
  void CheckOnly(const std::string& path) {
    path_ = path;
    check_only_ = true;
  }

  // Writes the chunks through `writing_thread` from now on, each while the next one
  // is read and hashed.
  void WriteThrough(WritingThread& writing_thread) { writing_thread_ = &writing_thread; }

  // Appends `chunk`. After the first failure nothing more is written and
  // the temporary file is removed at once (a full disk gets its space back).
  void Write(std::string_view chunk);

  // Decoded chunks are written through `threads` from now on, each at its
  // place; MoveToName and Discard first wait for those in flight.
  void DecodeThrough(DecodingThreads& threads) { decoding_threads_ = &threads; }

  // How the file fares, for DecodingThreads to note its chunks' results in
  // (see DecodingThreads::Submit). A chunk that was not written or did not
  // decode is a failure of the file; the first decides error() and
  // damaged().
  FileOutcome& outcome() { return outcome_; }
  int chunks_in_flight() const { return outcome_.chunks_in_flight; }

  // The temporary file chunks are written to at their place, or nullptr when
  // nothing is written (a failed or only checked file).
  platform::File* output() { return outcome_.failed || temporary_.empty() ? nullptr : &file_; }

  // Whether the file has failed, and whether because its compressed
  // contents do not decode (a damaged envelope rather than a system error).
  bool failed() const { return outcome_.failed; }
  bool damaged() const { return outcome_.damaged; }

  // The file's compressed contents break their layout's rules: a failure,
  // damaged().
  void Damage() { outcome_.Note(ChunkResult::kDamaged, 0); }

  // Closes the temporary file and gives it the file's own path, as
  // DirectoryMaker::PlaceTemporaryFile does (replacing an earlier file of
  // exactly that name, nothing else). False, with the temporary file
  // removed, after any failure of creating, writing, closing or renaming;
  // error() tells the first.
  bool MoveToName();

  // The path the file is to have, as messages name it.
  const std::string& path() const { return path_; }

  // The system error code of the first failure, 0 without one.
  int error() const { return outcome_.error; }

  // Removes the temporary file now, if there is one.
  void Discard();

 private:
  void Fail(int error);

  DirectoryMaker* directories_ = nullptr;
  std::string relative_path_;  // where the file goes in directories_
  std::string path_;
  std::string temporary_;  // its name; empty when no temporary file exists
  platform::File file_;
  WritingThread* writing_thread_ = nullptr;
  DecodingThreads* decoding_threads_ = nullptr;
  FileOutcome outcome_;
  bool check_only_ = false;
};

}  // namespace extraction
