#include "toolprocess.h"

#include "testenv.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <csignal>

ToolProcess::ToolProcess(const QString &toolName)
    : m_tool(toolName)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

void ToolProcess::collect()
{
    while (m_process.canReadLine()) {
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        m_output += line + QLatin1Char('\n');
        const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (parts.size() == 4 && parts[0] == QLatin1String("LISTEN")) {
            m_addresses.insert(parts[1], parts[2]);
            m_ports.insert(parts[1], quint16(parts[3].toUInt()));
        } else if (line == QLatin1String("READY")) {
            m_ready = true;
        }
    }
}

bool ToolProcess::start(const QStringList &args, int timeoutMs)
{
    const QString program = TestEnv::toolPath(m_tool);
    if (!QFileInfo(program).isExecutable()) {
        m_error = QStringLiteral("no tool at ") + program;
        return false;
    }
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this]() { collect(); });
    startProgram(program, args);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (!m_ready && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(50);
        collect();
    }
    if (!m_ready) {
        m_error = QStringLiteral("%1 did not become ready: %2").arg(m_tool, QString::fromUtf8(m_process.readAllStandardError()));
        return false;
    }
    return true;
}

ChildProcess::~ChildProcess()
{
    // The subclass that reads the output is gone already; output that
    // arrives while the program stops would reach it through its handler.
    QObject::disconnect(&m_process, &QProcess::readyReadStandardOutput, nullptr, nullptr);
    stop();
}

void ChildProcess::startProgram(const QString &program, const QStringList &args)
{
    QProcessEnvironment env = m_process.processEnvironment();
    if (env.isEmpty())
        env = QProcessEnvironment::systemEnvironment();
    // The tools and the demo client end with this process, even a killed one.
    env.insert(QStringLiteral("ZANTRY_DIE_WITH_PARENT"), QStringLiteral("1"));
    // A launcher's namespace ends with this process already, and numbers
    // processes its own way.
    if (!m_launcher.isEmpty())
        env.remove(QStringLiteral("ZANTRY_RUN_PID"));
    m_process.setProcessEnvironment(env);
    if (m_launcher.isEmpty())
        m_process.start(program, args);
    else
        m_process.start(m_launcher.first(), m_launcher.mid(1) + QStringList{program} + args);
}

qint64 ChildProcess::signalTarget() const
{
    const qint64 pid = m_process.processId();
    if (m_launcher.isEmpty())
        return pid;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...", where comm may hold anything
        const QByteArray line = stat.readAll();
        const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && rest.at(1).toLongLong() == pid)
            return entry.toLongLong();
    }
    return pid;
}

void ChildProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(signalTarget()), SIGTERM);
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

void ChildProcess::sendSignal(int signal)
{
    if (m_process.state() != QProcess::NotRunning)
        ::kill(pid_t(signalTarget()), signal);
}

int ChildProcess::waitForExit(int timeoutMs)
{
    if (!QTest::qWaitFor([&]() { return m_process.state() == QProcess::NotRunning; }, timeoutMs))
        return -1;
    collect();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString ToolProcess::url(const QString &label) const
{
    QString host = m_addresses.value(label, QStringLiteral("127.0.0.1"));
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return QStringLiteral("http://%1:%2").arg(host).arg(m_ports.value(label));
}
