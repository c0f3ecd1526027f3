#include "fakegame.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QSettings>
#include <QUdpSocket>
#include <QtEndian>

#include <csignal>

namespace {

constexpr int PayloadSize = 48;
constexpr int ExitBadFiles = 4;
constexpr int ExitNoStart = 1;
constexpr int ExitCrash = 3;

QByteArray header(quint16 from, quint16 to)
{
    QByteArray h(4, '\0');
    qToBigEndian<quint16>(from, h.data());
    qToBigEndian<quint16>(to, h.data() + 2);
    return h;
}

} // namespace

FakeGame::FakeGame(const QString &launcher, const QStringList &arguments, QObject *parent)
    : QObject(parent)
    , m_launcher(launcher)
    , m_arguments(arguments)
    , m_dir(QDir::currentPath())
    , m_log(new QFile(QDir(m_dir).filePath(QStringLiteral("fakegame.log"))))
{
    m_log->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
    m_loadTimer.setSingleShot(true);
    connect(&m_loadTimer, &QTimer::timeout, this, &FakeGame::play);
    connect(&m_sendTimer, &QTimer::timeout, this, &FakeGame::sendRound);
    m_endTimer.setSingleShot(true);
    connect(&m_endTimer, &QTimer::timeout, this, &FakeGame::finish);
}

FakeGame::~FakeGame()
{
    delete m_log;
}

void FakeGame::log(const QString &line)
{
    m_log->write(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz ")).toUtf8() + line.toUtf8() + '\n');
    m_log->flush();
}

void FakeGame::start()
{
    m_config = GameFiles::readConfig(m_dir);
    log(QStringLiteral("started as %1 with \"%2\" in %3, mode %4, %5 s")
            .arg(QFileInfo(m_launcher).fileName(), m_arguments.join(QLatin1Char(' ')), m_dir, m_config.mode)
            .arg(m_config.seconds));
    if (!m_config.problem.isEmpty())
        log(QStringLiteral("config: ") + m_config.problem);
    if (!m_arguments.contains(QStringLiteral("-SPAWN")))
        log(QStringLiteral("warning: no -SPAWN argument"));
    if (m_config.mode == QLatin1String("nostart")) {
        log(QStringLiteral("refusing to start"));
        emit finished(ExitNoStart);
        return;
    }
    if (m_config.mode.startsWith(QLatin1String("crash"))) {
        crash(m_config.mode == QLatin1String("crash-signal"));
        return;
    }
    QString error;
    if (!GameFiles::readSpawn(QDir(m_dir).filePath(QStringLiteral("spawn.ini")), &m_spawn, &error)) {
        log(error);
        emit finished(ExitBadFiles);
        return;
    }
    if (!QFileInfo(QDir(m_dir).filePath(QStringLiteral("spawnmap.ini"))).isFile()) {
        log(QStringLiteral("no spawnmap.ini"));
        emit finished(ExitBadFiles);
        return;
    }
    log(QStringLiteral("I am %1 (id %2); tunnel %3:%4; %5 opponents")
            .arg(m_spawn.name)
            .arg(m_spawn.myId)
            .arg(m_spawn.tunnelIp)
            .arg(m_spawn.tunnelPort)
            .arg(m_spawn.opponents.size()));
    for (const Opponent &o : qAsConst(m_spawn.opponents)) {
        log(QStringLiteral("%1: %2 id %3").arg(o.section, o.name).arg(o.id));
        m_sent.insert(o.id, 0);
        m_received.insert(o.id, 0);
    }
    if (m_config.mode == QLatin1String("hang")) {
        log(QStringLiteral("hanging"));
        return;
    }
    if (m_config.loadSeconds > 0) {
        // No socket yet: nothing is sent, and the router keeps what arrives
        // for us until our first datagram, as with a real game's load.
        log(QStringLiteral("loading for %1 s").arg(m_config.loadSeconds));
        m_loadTimer.start(m_config.loadSeconds * 1000);
        return;
    }
    play();
}

void FakeGame::play()
{
    m_socket = new QUdpSocket(this);
    const QHostAddress tunnel(m_spawn.tunnelIp);
    if (!m_socket->bind(tunnel.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, 0)) {
        log(QStringLiteral("cannot bind a UDP socket: ") + m_socket->errorString());
        emit finished(ExitBadFiles);
        return;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &FakeGame::readPending);
    m_sendTimer.start(m_config.intervalMs);
    m_endTimer.start(m_config.seconds * 1000);
    sendRound();
}

void FakeGame::crash(bool bySignal)
{
    const QString name = GameFiles::exceptionFileFor(m_launcher);
    if (name.isEmpty()) {
        log(QStringLiteral("crashing; this game writes no exception file"));
    } else {
        QFile file(QDir(m_dir).filePath(name));
        if (file.open(QIODevice::WriteOnly)) {
            file.write("Sandbox game exception report\r\n"
                       "Exception:\tc0000005\tACCESS_VIOLATION\r\n"
                       "Eip:" + m_config.eip.toLatin1() + "\tEsp:0019FA3C\tEbp:0019FA60\tEflags:00010246\r\n"
                       "Eax:00000000\tEbx:7EFDE000\tEcx:00000001\tEdx:00000000\r\n");
        }
        log(QStringLiteral("crashing; wrote ") + name);
    }
    if (bySignal) {
        log(QStringLiteral("killing myself"));
        ::raise(SIGKILL);
    }
    emit finished(ExitCrash);
}

void FakeGame::stop()
{
    log(QStringLiteral("stopping on SIGTERM"));
    m_loadTimer.stop();
    if (m_sendTimer.isActive()) {
        m_endTimer.stop();
        finish();
    } else {
        emit finished(0);
    }
}

void FakeGame::sendRound()
{
    const QHostAddress tunnel(m_spawn.tunnelIp);
    for (const Opponent &o : qAsConst(m_spawn.opponents)) {
        QByteArray payload = "FAKEGAME seq=" + QByteArray::number(++m_sequence) + " from=" + m_spawn.name.toUtf8();
        payload = payload.leftJustified(PayloadSize, '.', true);
        if (m_socket->writeDatagram(header(m_spawn.myId, o.id) + payload, tunnel, m_spawn.tunnelPort) > 0)
            ++m_sent[o.id];
    }
}

void FakeGame::readPending()
{
    for (int i = 0; i < 512 && m_socket->hasPendingDatagrams(); ++i) {
        const QByteArray data = m_socket->receiveDatagram(65536).data();
        if (data.size() < 4) {
            ++m_stray;
            continue;
        }
        const quint16 from = qFromBigEndian<quint16>(data.constData());
        const quint16 to = qFromBigEndian<quint16>(data.constData() + 2);
        if (to == m_spawn.myId && m_received.contains(from))
            ++m_received[from];
        else
            ++m_stray;
    }
}

void FakeGame::finish()
{
    m_sendTimer.stop();
    QFile::remove(QDir(m_dir).filePath(QStringLiteral("stats.dmp")));
    QSettings stats(QDir(m_dir).filePath(QStringLiteral("stats.dmp")), QSettings::IniFormat);
    int sent = 0;
    int received = 0;
    stats.beginGroup(QStringLiteral("Game"));
    stats.setValue(QStringLiteral("Name"), m_spawn.name);
    stats.setValue(QStringLiteral("Id"), m_spawn.myId);
    stats.setValue(QStringLiteral("Seconds"), m_config.seconds);
    stats.endGroup();
    for (const Opponent &o : qAsConst(m_spawn.opponents)) {
        stats.beginGroup(QStringLiteral("Peer%1").arg(o.id));
        stats.setValue(QStringLiteral("Name"), o.name);
        stats.setValue(QStringLiteral("Sent"), m_sent.value(o.id));
        stats.setValue(QStringLiteral("Received"), m_received.value(o.id));
        stats.endGroup();
        sent += m_sent.value(o.id);
        received += m_received.value(o.id);
        log(QStringLiteral("%1 (id %2): sent %3, received %4").arg(o.name).arg(o.id).arg(m_sent.value(o.id)).arg(m_received.value(o.id)));
    }
    stats.setValue(QStringLiteral("Game/Sent"), sent);
    stats.setValue(QStringLiteral("Game/Received"), received);
    stats.setValue(QStringLiteral("Game/Stray"), m_stray);
    stats.sync();
    log(QStringLiteral("wrote stats.dmp: sent %1, received %2, stray %3").arg(sent).arg(received).arg(m_stray));
    emit finished(stats.status() == QSettings::NoError ? 0 : ExitBadFiles);
}
