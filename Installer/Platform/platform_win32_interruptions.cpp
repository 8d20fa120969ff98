// Interruptions on Windows: the signals caught on POSIX have no
// counterpart here, so nothing is caught and nothing is passed on.
#include "platform_processes.h"

namespace platform {

void CatchInterruptions() {}

int CaughtInterruption() { return 0; }

}  // namespace platform
