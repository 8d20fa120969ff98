// The reader's whole run, as one fixed sequence of steps.
#pragma once

#include <functional>
#include <string>

namespace reader {

// The name of the per-user single-instance guard.
inline constexpr char kInstanceGuardName[] = "Quillmarrow.Installation";

// Runs the installer: single-instance guard, work directory, built-in
// variables `source` and `commandline` (= `command_line`, verbatim), envelope
// walk, launch (or the invalid-envelope message), removal of the work
// directory. Returns the process exit code (see exit_codes.h): by default 1
// for a refused run, else 0; the codes of ChooseExitCode when the envelope
// asks for exit codes; 128 + N after catching signal N (POSIX), which stops
// the walk at its next read, or is passed on to the setup program. Messages
// go to the run's message log where no one could see them. Exceptions are
// reported here and nowhere else; after one, the work directory is left in
// place.
int RunInstaller(const std::string& command_line);

// Runs `body`, turning an exception that escapes it into the "Unhandled
// Exception" message (captioned with its description, if it has one) and exit
// code 0.
int ReportUnhandledExceptions(const std::function<int()>& body);

}  // namespace reader
