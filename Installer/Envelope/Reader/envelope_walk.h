// The envelope's record groups: values into the table, files into the work
// directory.
//
// A group is read as a type record, then (for every type but the tail marker)
// a key record, then the type's further records:
//   tail marker  -> set envelope_valid
//   "value"      -> value; insert (key, value)
//   "file"       -> name, contents; insert (key, name) unless the key is
//                   empty; write the contents to work directory + name
//   "stub"       -> end of the walk
//   other        -> skipped after its key
// In the file each group's records stand in the reverse order, type last.
#pragma once

#include <string>
#include <string_view>

#include "run_state.h"

// The type texts of the groups the walk knows, besides the tail marker.
inline constexpr std::string_view kValueGroupType = "value";
inline constexpr std::string_view kFileGroupType = "file";
inline constexpr std::string_view kStubGroupType = "stub";

// Walks the envelope of the program file at `program_path` from its tail down
// to the stub group, applying each group to `state` as it is read; nothing is
// rolled back when a later group fails. Reports its own failures.
void WalkEnvelope(const std::string& program_path, RunState& state);

// Whether `name` stays inside the work directory: not absolute (no leading
// separator, no drive), no ".." component, split on "/" and "\", and no zero
// byte.
bool IsContainedFileName(std::string_view name);
