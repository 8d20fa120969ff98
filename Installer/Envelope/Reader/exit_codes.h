// The reader's exit codes.
#pragma once

#include "options.h"
#include "platform_system.h"

namespace reader {

// By default, as every reader has always done:
// Every run that got as far as its work directory, whatever happened then.
inline constexpr int kExitCompleted = 0;
// A second instance, or a work directory that cannot be entered.
inline constexpr int kExitRefused = 1;

// A run's own failure, which an envelope that asks for exit codes (see
// options.h) is told with a code of its own.
enum class RunFailure {
  kNone,
  kAlreadyRunning,  // another reader holds the single-instance guard
  kPackageInvalid,  // the envelope cannot be opened, or is damaged
  kInstallFailure,  // no work directory, a file not extracted, no launch, an
                    // unexpected error
};

// The codes of a run's own failures when its envelope asks for exit codes, in
// the convention deployment tools know on each system.
struct OwnFailureCodes {
  int another_installation;
  int package_invalid;
  int install_failure;
};

// Windows: those of Windows Installer (1618 another installation is in
// progress, which tools retry; 1620 the package cannot be opened or is
// invalid; 1603 a fatal error during the installation).
inline constexpr OwnFailureCodes kWindowsInstallerCodes = {1618, 1620, 1603};
// POSIX: small codes of sysexits.h (EX_TEMPFAIL, EX_DATAERR, EX_OSERR).
inline constexpr OwnFailureCodes kSysexitsCodes = {75, 65, 71};

// The codes of the system the reader runs on.
inline constexpr OwnFailureCodes kOwnFailureCodes =
    platform::kSystemKind == platform::SystemKind::kWindows ? kWindowsInstallerCodes
                                                            : kSysexitsCodes;

// The exit code that stands for an end by the signal `signal` (POSIX): 128 +
// its number, as shells report it. A setup program killed by a signal is
// reported so, and so is a run that a caught interruption ended.
inline int ExitCodeOfSignal(int signal) { return 128 + signal; }

// The code a run ends with: `default_code` when `options` do not ask for exit
// codes; otherwise the code of `failure`, or without one the setup program's
// own `setup_exit_code`. (On POSIX a caught interruption overrides all of
// this with ExitCodeOfSignal; see RunReader.)
inline int ChooseExitCode(const format::ReaderOptions& options, int default_code,
                          RunFailure failure, int setup_exit_code) {
  if (!options.exit_codes) return default_code;
  switch (failure) {
    case RunFailure::kNone: return setup_exit_code;
    case RunFailure::kAlreadyRunning: return kOwnFailureCodes.another_installation;
    case RunFailure::kPackageInvalid: return kOwnFailureCodes.package_invalid;
    case RunFailure::kInstallFailure: return kOwnFailureCodes.install_failure;
  }
  return kOwnFailureCodes.install_failure;
}

}  // namespace reader
