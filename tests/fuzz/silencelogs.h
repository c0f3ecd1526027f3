#pragma once

#include <QtGlobal>

// The parsers log every input they reject; over millions of runs the log
// would be the whole cost and bury the fuzzer's own output.
inline void silenceLogs()
{
    static const bool once = (qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}), true);
    Q_UNUSED(once);
}
