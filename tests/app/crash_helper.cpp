// A small program with the real crash capture: opens the log as start-up
// does, keeps a secret in memory, installs the handler and then faults.
#include "app/crashhandler.h"
#include "app/zantrylog.h"
#include "net/global.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

#include <csignal>
#include <cstdlib>

// Kept alive in the heap, the way the password and the token are.
QString *g_secret = nullptr;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray("segv");
    QCoreApplication::setOrganizationName(QStringLiteral("Lorvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Zantry"));
    QDir().mkpath(QStringLiteral("Zantry"));
    Global::instance()->setDataDir(QDir(QStringLiteral("Zantry")));
    ZantryLog::instance()->openLogFile(QStringLiteral("Zantry"));
    g_secret = new QString(QStringLiteral("hunter2-secret-") + QString::fromLatin1(qgetenv("CRASH_SECRET")));
    qDebug() << "helper about to crash";
    CrashHandler::instance()->install();

    if (mode == "segv") {
        // A write to a small address, the usual null-member fault.
        volatile int *bad = reinterpret_cast<int *>(std::strtoul("16", nullptr, 10));
        *bad = int(g_secret->size());
    } else if (mode == "abort") {
        std::abort();
    } else if (mode == "raise") {
        std::raise(SIGSEGV);
    }
    return 3;
}
