#include "extractor.h"

#include <utility>

#include "archive_extraction.h"
#include "compressed_contents.h"
#include "file_names.h"

namespace extraction {

namespace {

// The most files left decoding, each with its temporary file open, while the
// next groups are read: as many as there can be decoding slots, so that a
// small, fixed number of files is held open whatever the envelope holds
// (empty files, which hand over no chunks, included).
constexpr size_t kMostFilesDecoding = 4;

// Gives `file` its name; false, with `failure` set, when it did not come out.
bool Placed(PendingFile& file, Failure& failure) {
  if (file.MoveToName()) return true;
  failure.damaged = file.damaged();
  if (!failure.damaged) {
    failure.path = file.path();
    failure.error = file.error();
  }
  return false;
}

// Reads the contents record `contents` once, a chunk at a time, hashing each
// chunk, writing it to `file` (unless it is only checked) and counting it in
// `progress` when there is one: kOk when the digest matches, else
// kDigestMismatch, or kReadFailed when the archive could not be read.
// Contents of more than one chunk are written through `writing_thread`.
format::RecordStatus ReadContents(format::BackwardReader& archive,
                                  const format::RecordLocation& contents, PendingFile& file,
                                  WritingThread& writing_thread, ProgressCounter* progress) {
  if (contents.length > format::kPayloadChunkSize) file.WriteThrough(writing_thread);
  return format::HashPayloadInChunks(archive, contents, [&](std::string_view chunk) {
    file.Write(chunk);
    if (progress != nullptr) progress->Advance(static_cast<int64_t>(chunk.size()));
    return true;
  });
}

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
    if (!file_.failed()) {
      threads_.Submit(file_.outcome(), file_.output(), stored_size_, original_size_, file_offset_);
    }
    return true;
  }

 private:
  PendingFile& file_;
  DecodingThreads& threads_;
  uint32_t original_size_ = 0;
  uint32_t stored_size_ = 0;
  uint64_t file_offset_ = 0;
};

// Reads the contents record `contents` of a compressed file group once, a
// piece at a time, hashing each piece, parsing its chunks (see
// compressed_contents.h) and handing each to `threads` to be decoded and
// written to `file`, counting the pieces in `progress` when there is one.
// kOk when the digest matches and the chunks are sound as declared,
// kDigestMismatch when either fails (the second also makes the file
// damaged()), or kReadFailed when the archive could not be read. Chunks may
// still be in flight on return: MoveToName waits for them, and fails with
// damaged() when one does not decode.
format::RecordStatus ReadCompressedContents(format::BackwardReader& archive,
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

}  // namespace

Extractor::Extractor(std::string directory, ProgressCounter* progress)
    : progress_(progress),
      writing_(true),
      directories_(directory),
      room_(std::move(directory)),
      decoding_threads_(DecodingSlots()) {}

Extractor::Extractor()
    : progress_(nullptr),
      writing_(false),
      directories_(""),
      room_(""),
      decoding_threads_(DecodingSlots()) {}

Extractor::~Extractor() = default;

// Kept out of line: inlined into the reader's walk, it made the reader
// larger.
[[gnu::noinline]] format::RecordStatus Extractor::ReadFile(format::BackwardReader& archive,
                                                           const format::Group& group) {
  last_ = std::make_unique<PendingFile>();
  last_compressed_ = group.kind == format::GroupKind::kCompressedFile;
  last_may_name_temporary_ = format::MayNameTemporaryFile(group.name);
  PendingFile& file = *last_;
  if (writing_) {
    const std::string path = directories_.top() + group.name;
    // A name that would leave the directory, or that no system could hold,
    // is only hashed (and parsed).
    if (format::IsFileNameTooLong(group.name)) {
      file.Refuse(path, platform::kErrorNameTooLong);
    } else if (!format::IsContainedFileName(group.name)) {
      file.Refuse(path, platform::kErrorInvalidName);
    } else if (!last_compressed_) {
      room_.Spend(group.contents.length);
      file.Create(directories_, group.name, path);
    } else if (!room_.Take(format::DeclaredOriginalSize(archive, group.contents),
                           decoding_threads_.UnwrittenBytes())) {
      file.Refuse(path, platform::kErrorDiskFull);
    } else {
      file.Create(directories_, group.name, path);
    }
  } else {
    file.CheckOnly(group.name);
  }
  if (last_compressed_) {
    return ReadCompressedContents(archive, group.contents, file, decoding_threads_, progress_);
  }
  return ReadContents(archive, group.contents, file, writing_thread_, progress_);
}

void Extractor::DropFile() {
  if (last_) last_->Discard();
  last_.reset();
}

bool Extractor::SettleEarlierFiles() {
  return PlaceDecoded(last_ && last_compressed_ ? kMostFilesDecoding : 0);
}

bool Extractor::PlaceFile(bool more) {
  std::unique_ptr<PendingFile> file = std::move(last_);
  if (!file) return true;
  if (!last_compressed_) return Placed(*file, failure_);
  // A file that is to take a name a temporary file may have is placed
  // before the next temporary file is made, so that it never takes that
  // file's name from under it.
  const bool keeps_decoding = more && !last_may_name_temporary_;
  decoding_.push_back(std::move(file));
  return PlaceDecoded(keeps_decoding ? kMostFilesDecoding : 0);
}

bool Extractor::PlaceDecoded(size_t most_left) {
  bool placed = true;
  while (placed && !decoding_.empty() &&
         (decoding_.size() > most_left || decoding_.front()->chunks_in_flight() == 0)) {
    placed = Placed(*decoding_.front(), failure_);
    decoding_.erase(decoding_.begin());
  }
  // After a failure the rest are discarded.
  if (!placed) decoding_.clear();
  return placed;
}

ArchiveOutcome Extractor::ExtractArchive(format::GroupReader& groups, const format::Group& group) {
  ArchiveOutcome outcome;
  // The files read before take their names first, so that no temporary
  // file of theirs is left for the tree's files to meet.
  if (!PlaceDecoded(0)) return outcome;
  const std::optional<format::ArchiveCatalog> catalog = format::ParseGroupCatalog(group);
  if (!catalog) {
    outcome.status = format::RecordStatus::kDigestMismatch;
    outcome.bad_catalog = true;
    return outcome;
  }
  if (writing_ && !room_.Take(catalog->stream_size, 0)) {
    failure_ = {false, directories_.top(), platform::kErrorDiskFull};
    return outcome;
  }
  ArchiveResult result =
      extraction::ExtractArchive(groups, *catalog, writing_ ? &directories_ : nullptr, progress_);
  outcome.status = result.status;
  failure_ = {result.damaged, std::move(result.failed_path), result.error};
  outcome.frame_sizes = std::move(result.frame_sizes);
  outcome.frames_left = catalog->frames.size() - result.frames_located;
  return outcome;
}

const std::vector<std::string>& Extractor::made_dot_directories() const {
  return directories_.made_dot_directories();
}

}  // namespace extraction
