// Interruptions on Windows: the signals the POSIX reader catches have no
// counterpart here, so nothing is caught and nothing is passed on.
#include "platform.h"

namespace platform {

void CatchInterruptions() {}

int CaughtInterruption() { return 0; }

}  // namespace platform
