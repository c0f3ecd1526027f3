#include "clientprocess.h"

#include "testenv.h"
#include "toolprocess.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <csignal>

ClientProcess::ClientProcess(const QString &gameDir) : m_dir(gameDir) {}

bool ClientProcess::start(const QProcessEnvironment &env, const QStringList &args)
{
    QProcessEnvironment e = env;
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(e);
    m_process.setWorkingDirectory(m_dir);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The demo's switches live in the demo program only.
    const bool demo = !args.filter(QStringLiteral("--demo-")).isEmpty();
    startProgram(demo ? TestEnv::demoPath() : TestEnv::zantryPath(), args);
    return m_process.waitForStarted(10000);
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

QString ClientProcess::tail(int chars) const
{
    return steps(log(), chars);
}

QString ClientProcess::steps(const QString &log, int chars)
{
    QString steps;
    const QStringList lines = log.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        // "stamp: Level: version: text"
        int text = 0;
        for (int field = 0; field < 3 && text >= 0; ++field) {
            const int at = line.indexOf(QLatin1String(": "), text);
            text = at < 0 ? -1 : at + 2;
        }
        if (text > 0 && text < line.size() && !QStringLiteral("{}[] ").contains(line.at(text))
            && !line.contains(QLatin1String("queryPublicIP")))
            steps += line + QLatin1Char('\n');
    }
    return steps.right(chars);
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

const QRegularExpression &ClientProcess::readyLine()
{
    static const QRegularExpression re(QStringLiteral("Running States changed: +2504$"), QRegularExpression::MultilineOption);
    return re;
}
