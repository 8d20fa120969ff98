// What an envelope's groups amount to for a reader, read from its tail
// towards its start: which of them count and where reading ends. The reader's
// walk follows this rule as it extracts, and the tool follows it to show what
// the reader would do.
#pragma once

#include "groups.h"
#include "options.h"
#include "variables.h"

namespace format {

// The groups of one walk, taken in reading order:
// - a group counts only when every record the walk reads of it matched its
//   digest; the first one that does not ends the walk and makes the envelope
//   invalid;
// - the tail record makes the envelope valid; value groups and file groups
//   with a key add their variable unless it is set already (so the group
//   nearest the end wins, and the built-ins stand); leading option groups set
//   the reader's options;
// - the stub group, the envelope's first, ends the walk after its key: its
//   name and contents (the reader program itself) are never read, so their
//   digests do not count.
class WalkRule {
 public:
  // Adds the groups' variables to `variables`, which holds the built-ins.
  explicit WalkRule(VariableTable& variables) : variables_(variables) {}

  // Takes the next group, read whole (a group whose reading failed is not
  // taken: the walk ends before it). Returns whether the walk goes on after
  // it.
  bool Take(const Group& group);

  // Whether the tail record was taken and no mismatch followed.
  bool envelope_valid() const { return envelope_valid_; }

  // The options the leading option groups set.
  const ReaderOptions& options() const { return options_.options(); }

 private:
  VariableTable& variables_;
  OptionCollector options_;
  bool envelope_valid_ = false;
};

}  // namespace format
