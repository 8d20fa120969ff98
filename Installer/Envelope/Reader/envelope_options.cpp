#include "envelope_options.h"

#include "groups.h"
#include "platform.h"
#include "tail.h"

namespace reader {

format::ReaderOptions ReadEnvelopeOptions(const std::string& program_path) {
  platform::File archive = platform::File::OpenForReading(program_path);
  if (!archive.IsOpen() || !format::FindEnvelopeTail(archive)) return {};
  format::GroupReading reading;
  reading.options_only = true;
  format::GroupReader groups(archive, reading);
  format::OptionCollector options;
  format::Group group;
  while (!options.Done() && groups.Next(group) == format::RecordStatus::kOk) options.Add(group);
  return options.options();
}

}  // namespace reader
