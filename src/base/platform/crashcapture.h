#pragma once

#include <QString>

namespace Platform {

// Installs the process's crash capture. On a fatal fault the crashing
// thread writes a crash record "<address>-<yyyyMMdd>-<hhmmss>-<thread>.dmp"
// in dataDir and copies logPath next to it as ".log", then the process ends
// as it would have without the capture. Everything the capture needs is
// prepared here, because the fault path may only use direct system calls.
// The record holds no memory contents (those hold the user's credentials).
bool installCrashCapture(const QString &dataDir, const QString &logPath, const QString &version);

} // namespace Platform
