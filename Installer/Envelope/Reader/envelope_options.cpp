#include "envelope_options.h"

#include "groups.h"
#include "platform_files.h"
#include "tail.h"

namespace reader {

format::ReaderOptions ReadEnvelopeOptions(const std::string& program_path) {
  platform::File archive = platform::File::OpenForReading(program_path);
  if (!archive.IsOpen() || !format::FindEnvelopeTail(archive)) return {};
  // The leading option groups, like the tail, are all head: reading ends at
  // the head of the first other group, before any contents.
  format::GroupReader groups(archive);
  format::OptionCollector options;
  format::Group group;
  while (!options.Done() && groups.ReadHead(group) == format::RecordStatus::kOk &&
         !group.bad_record) {
    options.Add(group);
  }
  return options.options();
}

}  // namespace reader
