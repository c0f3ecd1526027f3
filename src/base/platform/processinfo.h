#pragma once

#include <QtGlobal>

namespace Platform {

// Whether a process with this id exists now.
bool processIsRunning(qint64 pid);

} // namespace Platform
