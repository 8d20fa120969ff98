// Settings of the reader itself, packed as option groups: the type "option"
// and a key naming the setting, nothing more.
//
// Options are no variables, so no value or file key of an installer can set
// or clash with one. A reader that does not know the "option" type skips such
// a group after its key, like any unknown type, and runs the installer with
// its default behaviour.
//
// Only the option groups that directly follow the tail record count (the
// writer puts them there): the reader learns them with its first reads,
// before anything is extracted, and can look them up cheaply when it fails
// before its walk.
#pragma once

#include <string_view>

#include "groups.h"

namespace format {

// Return the setup program's exit code, and distinct codes for the reader's
// own failures, instead of 0 after every launch.
inline constexpr std::string_view kExitCodesOption = "exit-codes";

struct ReaderOptions {
  bool exit_codes = false;  // kExitCodesOption
};

// Gathers the options from an envelope's groups, given in reading order.
class OptionCollector {
 public:
  // Takes the next group read: an option group before the first group that
  // is neither the tail nor an option sets its option (an unknown key, from a
  // newer writer, is ignored); everything else only ends the leading groups.
  void Add(const Group& group);

  // Whether the leading groups have ended: no later group changes anything.
  bool Done() const { return done_; }

  const ReaderOptions& options() const { return options_; }

 private:
  ReaderOptions options_;
  bool done_ = false;
};

}  // namespace format
