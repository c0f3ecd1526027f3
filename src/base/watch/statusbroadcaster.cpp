#include "watch/statusbroadcaster.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>

StatusBroadcaster::StatusBroadcaster(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer)
    , m_socket(new QUdpSocket)
{
    m_timer->setInterval(m_interval);
    connect(m_timer, &QTimer::timeout, this, &StatusBroadcaster::broadcastUpdate);
}

StatusBroadcaster::~StatusBroadcaster()
{
    delete m_timer;
    delete m_socket;
}

void StatusBroadcaster::setInterval(int ms)
{
    m_interval = ms;
    m_timer->setInterval(ms);
}

void StatusBroadcaster::start()
{
    m_timer->start(m_interval);
}

void StatusBroadcaster::stop()
{
    m_timer->stop();
}

void StatusBroadcaster::setInGame(bool inGame)
{
    m_inGame = inGame;
}

void StatusBroadcaster::setInQueue(bool inQueue)
{
    m_inQueue = inQueue;
}

StatusSnapshot StatusBroadcaster::snapshot() const
{
    StatusSnapshot s = m_source ? m_source() : StatusSnapshot();
    s.processId = qint32(QCoreApplication::applicationPid());
    s.inQueue = m_inQueue;
    s.inGame = m_inGame;
    return s;
}

void StatusBroadcaster::broadcastUpdate()
{
    const QByteArray datagram = StatusDatagram::encode(snapshot());
    for (int port = kFirstPort; port <= kLastPort; ++port)
        m_socket->writeDatagram(datagram, QHostAddress::LocalHost, quint16(port));
}
