// Extracting a file group's contents into the work directory in one pass:
// each chunk is hashed and written to a temporary file, which takes the
// file's own name only once the whole digest has matched.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "backward_reader.h"
#include "decoding_threads.h"
#include "directory_maker.h"
#include "file_names.h"
#include "platform_files.h"
#include "record.h"
#include "writing_thread.h"

namespace extraction {

// Told how many bytes of the envelope an extraction has read, as it reads
// them: the reader shows its progress with it.
class ProgressCounter {
 public:
  virtual void Advance(int64_t bytes) = 0;

 protected:
  ~ProgressCounter() = default;
};

// Temporary files are named as file_names.h says, in the directory extracted
// to.
using format::MayNameTemporaryFile;

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

  // For DecodingThreads, on the main thread: a chunk was handed over, and
  // the result of one came back. A chunk that was not written or did not
  // decode is a failure of the file; the first decides error() and
  // damaged().
  void ChunkHandedOver() { ++chunks_in_flight_; }
  void ChunkDone(ChunkResult result, int error);
  int chunks_in_flight() const { return chunks_in_flight_; }

  // The temporary file chunks are written to at their place, or nullptr when
  // nothing is written (a failed or only checked file).
  platform::File* output() { return failed_ || temporary_.empty() ? nullptr : &file_; }

  // Whether the file has failed, and whether because its compressed
  // contents do not decode (a damaged envelope rather than a system error).
  bool failed() const { return failed_; }
  bool damaged() const { return damaged_; }

  // The file's compressed contents break their layout's rules: a failure,
  // damaged().
  void Damage() { Note(ChunkResult::kDamaged, 0); }

  // Closes the temporary file and gives it the file's own path, as
  // DirectoryMaker::PlaceTemporaryFile does (replacing an earlier file of
  // exactly that name, nothing else). False, with the temporary file
  // removed, after any failure of creating, writing, closing or renaming;
  // error() tells the first.
  bool MoveToName();

  // The path the file is to have, as messages name it.
  const std::string& path() const { return path_; }

  // The system error code of the first failure, 0 without one.
  int error() const { return error_; }

  // Removes the temporary file now, if there is one.
  void Discard();

 private:
  void Fail(int error);
  void Note(ChunkResult result, int error);

  DirectoryMaker* directories_ = nullptr;
  std::string relative_path_;  // where the file goes in directories_
  std::string path_;
  std::string temporary_;  // its name; empty when no temporary file exists
  platform::File file_;
  WritingThread* writing_thread_ = nullptr;
  DecodingThreads* decoding_threads_ = nullptr;
  int chunks_in_flight_ = 0;
  int error_ = 0;
  bool failed_ = false;
  bool damaged_ = false;
  bool check_only_ = false;
};

// Reads the contents record `contents` once, a chunk at a time, hashing each
// chunk, writing it to `file` (unless it is only checked) and counting it in
// `progress` when there is one: kOk when the digest matches, else
// kDigestMismatch, or kReadFailed when the archive could not be read.
// Contents of more than one chunk are written through `writing_thread`.
format::RecordStatus ExtractContents(format::BackwardReader& archive,
                                     const format::RecordLocation& contents, PendingFile& file,
                                     WritingThread& writing_thread, ProgressCounter* progress);

// Reads the contents record `contents` of a compressed file group once, a
// piece at a time, hashing each piece, parsing its chunks (see
// compressed_contents.h) and handing each to `threads` to be decoded and
// written to `file` (which DecodeThrough ties to them), counting the pieces
// in `progress` when there is one. kOk when the digest matches and the
// chunks are sound as declared, kDigestMismatch when either fails (the
// second also makes the file damaged()), or kReadFailed when the archive
// could not be read. Chunks may still be in flight on return: MoveToName
// waits for them, and fails with damaged() when one does not decode.
format::RecordStatus ExtractCompressedContents(format::BackwardReader& archive,
                                               const format::RecordLocation& contents,
                                               PendingFile& file, DecodingThreads& threads,
                                               ProgressCounter* progress);

// The room the disk of one directory has for the files extracted into it.
// The system is asked at first, and again only when what it said last, less
// every size counted since, would not hold the next file: a refusal is
// always the system's word of the moment, and a file that fits well costs
// no system call. Not for use from several threads.
class DiskRoom {
 public:
  explicit DiskRoom(std::string directory) : directory_(std::move(directory)) {}

  // Whether the disk has room for a file of `size` bytes beside the
  // `unwritten` bytes the decoding threads have yet to write (true when the
  // system cannot tell); the size counts as taken from then on.
  bool Take(uint64_t size, uint64_t unwritten);

  // `size` bytes were written without asking first (a plain file).
  void Spend(uint64_t size);

 private:
  std::string directory_;
  bool known_ = false;
  uint64_t left_ = 0;  // the free bytes last seen, less every size counted since
};

}  // namespace extraction
