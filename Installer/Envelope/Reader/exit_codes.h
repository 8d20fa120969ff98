// The reader's exit codes.
#pragma once

namespace reader {

// Every run that got as far as its work directory, whatever happened then.
inline constexpr int kExitCompleted = 0;
// A second instance, or a work directory that cannot be entered.
inline constexpr int kExitRefused = 1;

}  // namespace reader
