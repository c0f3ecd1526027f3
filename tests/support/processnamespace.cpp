#include "processnamespace.h"

#include "testenv.h"

#include <QByteArray>
#include <QFile>
#include <QVector>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const char *const kState = "ZANTRY_PROCESS_NAMESPACE";

// tools/isolate --check, before QCoreApplication may exist: no QProcess.
const QString &unavailable()
{
    static const QString why = []() -> QString {
        const QByteArray command = "'" + QFile::encodeName(TestEnv::toolPath(QStringLiteral("isolate"))) + "' --check 2>&1";
        FILE *check = ::popen(command.constData(), "r");
        if (!check)
            return QStringLiteral("isolate: ") + QString::fromLocal8Bit(std::strerror(errno));
        char said[512] = {};
        const size_t n = std::fread(said, 1, sizeof said - 1, check);
        if (::pclose(check) == 0)
            return QString();
        return n > 0 ? QString::fromLocal8Bit(said, int(n)).trimmed() : QStringLiteral("isolate --check failed");
    }();
    return why;
}

} // namespace

namespace ProcessNamespace {

bool available(QString *why)
{
    if (why)
        *why = unavailable();
    return unavailable().isEmpty();
}

QStringList launcher()
{
    return available() ? QStringList{TestEnv::toolPath(QStringLiteral("isolate"))} : QStringList();
}

void enter(char *argv[])
{
    QString why;
    if (qEnvironmentVariableIsSet(kState))
        return;
    if (!available(&why)) {
        std::fprintf(stderr, "No process namespace of its own (%s): other runs' games on this machine may pause this test's client.\n",
                     qPrintable(why));
        return;
    }
    const QByteArray tool = QFile::encodeName(launcher().first());
    QVector<char *> command{const_cast<char *>(tool.constData())};
    for (int i = 0; argv[i]; ++i)
        command.append(argv[i]);
    command.append(nullptr);
    qputenv(kState, "inside");
    std::fflush(nullptr);
    ::execv(command[0], command.data());
    std::fprintf(stderr, "No process namespace of its own: %s\n", std::strerror(errno));
    qputenv(kState, "off");
}

bool entered()
{
    return qgetenv(kState) == "inside";
}

} // namespace ProcessNamespace
