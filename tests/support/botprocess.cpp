#include "botprocess.h"

#include "sandbox.h"
#include "testenv.h"

#include <QTest>

BotProcess::BotProcess()
{
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this]() { collect(); });
    QObject::connect(&m_process, &QProcess::readyReadStandardError,
                     [this]() { m_errors += QString::fromUtf8(m_process.readAllStandardError()); });
}

bool BotProcess::start(const QStringList &args)
{
    startProgram(TestEnv::toolPath(QStringLiteral("bot")), args);
    return m_process.waitForStarted(10000);
}

bool BotProcess::startOpponent(const QProcessEnvironment &env, const QString &gameDir)
{
    if (Sandbox::makeGameFolder(gameDir, {QStringLiteral("--game-maps"), QStringLiteral("all"), QStringLiteral("--link-launchers")})
            .isEmpty())
        return false;
    setEnvironment(env);
    return start({QStringLiteral("--token"), QStringLiteral("token-bob"), QStringLiteral("--game-dir"), gameDir});
}

void BotProcess::collect()
{
    while (m_process.canReadLine())
        m_lines.append(QString::fromUtf8(m_process.readLine()).trimmed());
}

bool BotProcess::hasLine(const QString &prefix) const
{
    for (const QString &line : m_lines) {
        if (line.startsWith(prefix))
            return true;
    }
    return false;
}

bool BotProcess::waitForLine(const QString &prefix, int timeoutMs)
{
    (void)QTest::qWaitFor([&]() { return hasLine(prefix) || m_process.state() == QProcess::NotRunning; }, timeoutMs);
    // Lines printed just before the exit may still be unread.
    collect();
    return hasLine(prefix);
}

bool BotProcess::left()
{
    if (m_process.state() != QProcess::NotRunning)
        return false;
    collect();
    return !hasLine(QStringLiteral("BOT done"));
}

bool BotProcess::waitWhilePlaying(const std::function<bool()> &done, int timeoutMs)
{
    (void)QTest::qWaitFor([&]() { return done() || left(); }, timeoutMs);
    return done();
}

QString BotProcess::whereabouts()
{
    if (!left())
        return QStringLiteral("the bot still plays; its last line: ") + m_lines.value(m_lines.size() - 1);
    const QString how = m_process.exitStatus() == QProcess::NormalExit ? QStringLiteral("exit code %1").arg(m_process.exitCode())
                                                                        : QStringLiteral("killed");
    return QStringLiteral("the opponent left: the bot ended (%1) before its match was done\n").arg(how) + transcript();
}

QString BotProcess::transcript() const
{
    return m_lines.join(QLatin1Char('\n')) + QStringLiteral("\n--- stderr ---\n") + m_errors.right(4000);
}
