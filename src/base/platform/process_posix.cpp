#include "platform/processinfo.h"

#include <signal.h>
#include <cerrno>

namespace Platform {

bool processIsRunning(qint64 pid)
{
    if (pid <= 0)
        return false;
    // Signal 0 checks existence only; EPERM means it exists under another user.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace Platform
