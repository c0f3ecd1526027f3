#pragma once

#include <QObject>

// Crash capture and the upload of crash files; process-wide.
class CrashHandler : public QObject
{
    Q_OBJECT
public:
    static CrashHandler *instance();

    // Installs the crash capture and uploads crash files of earlier runs.
    void install();

private:
    CrashHandler() = default;
};
