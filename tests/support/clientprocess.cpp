#include "clientprocess.h"

#include "testenv.h"
#include "toolprocess.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <csignal>

ClientProcess::ClientProcess(const QString &gameDir) : m_dir(gameDir) {}

ClientProcess::~ClientProcess()
{
    stopProcess(m_process);
}

bool ClientProcess::start(const QProcessEnvironment &env, const QStringList &args)
{
    QProcessEnvironment e = env;
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(e);
    m_process.setWorkingDirectory(m_dir);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(TestEnv::zantryPath(), args);
    return m_process.waitForStarted(10000);
}

void ClientProcess::sendSignal(int signal)
{
    if (m_process.state() != QProcess::NotRunning)
        ::kill(pid_t(m_process.processId()), signal);
}

void ClientProcess::writeSettings(const QString &settingsFile)
{
    QSettings settings(settingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("accessToken"), QStringLiteral("token-alice"));
    settings.setValue(QStringLiteral("WatchedProcesses"), QStringList{QStringLiteral("no-such-game.exe")});
}

QStringList ClientProcess::startWarnings() const
{
    QStringList found;
    const QString text = log();
    const QStringList lines = text.left(text.indexOf(QLatin1String("Running States changed"))).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.contains(QLatin1String(": Warning: ")) && !line.contains(QLatin1String("propagateSizeHints")))
            found << line;
    }
    return found;
}

QString ClientProcess::log() const
{
    QFile f(m_dir + QStringLiteral("/Zantry/zantry-log.txt"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool ClientProcess::waitForLog(const QString &text, int timeoutMs)
{
    return QTest::qWaitFor([&]() { return log().contains(text); }, timeoutMs);
}

bool ClientProcess::waitForLog(const QRegularExpression &re, int timeoutMs)
{
    return QTest::qWaitFor([&]() { return re.match(log()).hasMatch(); }, timeoutMs);
}

int ClientProcess::waitForExit(int timeoutMs)
{
    if (!QTest::qWaitFor([&]() { return m_process.state() == QProcess::NotRunning; }, timeoutMs))
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

const QRegularExpression &ClientProcess::readyLine()
{
    static const QRegularExpression re(QStringLiteral("Running States changed: +2504$"), QRegularExpression::MultilineOption);
    return re;
}
