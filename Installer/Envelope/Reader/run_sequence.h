// The reader's whole run, as one fixed sequence of steps.
#pragma once

#include <string>

namespace reader {

// The name of the per-user single-instance guard.
inline constexpr char kInstanceGuardName[] = "Quillmarrow.Installation";

// Runs the reader: single-instance guard, work directory, built-in
// variables `source` and `commandline` (= `command_line`, verbatim), envelope
// walk, launch (or the invalid-envelope message), removal of the work
// directory. Returns the process exit code (see exit_codes.h): by default 1
// for a refused run, else 0; the codes of ChooseExitCode when the envelope
// asks for exit codes; 128 + N after catching signal N (POSIX), which stops
// the walk at its next read, or is passed on to the setup program. Messages
// go to the run's message log where no one could see them. Nothing in the run
// throws: what the standard library cannot do (memory exhausted, a string too
// long) ends the process through ReportUnhandledException
// (runtime_failures.cpp), which leaves the work directory in place.
int RunReader(const std::string& command_line);

// Shows the "Unhandled Exception" message, captioned with `description` (the
// failure's standard description, such as "std::bad_alloc"), or with "No
// context available" when it is null. Returns the exit code the process then
// ends with: 0, or the code of an unexpected error when the envelope of the
// run in progress asks for exit codes (see ChooseExitCode).
int ReportUnhandledException(const char* description);

}  // namespace reader
