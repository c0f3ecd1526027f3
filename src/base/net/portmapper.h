#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

class PortMapWorker;

// Asks the home router to forward a port to the peer socket (UPnP-IGD
// through miniupnpc, else NAT-PMP through libnatpmp), so that a peer sending
// to the mapped address reaches us whatever the router does with outgoing
// ports. The libraries block, so they run on a thread of their own; the
// lease is renewed at half its time and the mapping removed on exit.
class PortMapper : public QObject
{
    Q_OBJECT
public:
    struct Mapping
    {
        QString method; // "UPnP-IGD" or "NAT-PMP"; empty: none
        QHostAddress externalIP;
        quint16 externalPort = 0;
        quint16 internalPort = 0;
        int leaseS = 0; // 0: the router keeps it until it is removed
        bool isActive() const { return externalPort != 0 && !externalIP.isNull(); }
        // "UPnP-IGD 203.0.113.5:51143, lease 3600 s"
        QString text() const;
    };

    static constexpr int kLeaseS = 3600;

    explicit PortMapper(QObject *parent = nullptr);
    // Removes the mapping (a second or two at most) and ends the thread.
    ~PortMapper() override;

    // Once, in the background; the lease is asked for leaseS seconds.
    void start(quint16 internalPort, int leaseS = kLeaseS);
    Mapping mapping() const { return m_mapping; }
    // What the player reads: the mapping, "trying", or why there is none.
    QString stateText() const { return m_state; }
    bool isDone() const { return m_done; }

signals:
    void mappingChanged(const PortMapper::Mapping &mapping);
    // The first attempt is over, mapped or not.
    void finished(bool mapped);

private:
    void applyResult(const PortMapper::Mapping &mapping, const QString &why);

    QThread m_thread;
    PortMapWorker *m_worker = nullptr;
    QTimer m_renewTimer;
    Mapping m_mapping;
    QString m_state = QStringLiteral("not tried yet");
    quint16 m_internalPort = 0;
    int m_leaseS = kLeaseS;
    bool m_done = false;
};

Q_DECLARE_METATYPE(PortMapper::Mapping)
