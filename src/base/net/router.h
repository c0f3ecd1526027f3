#pragma once

#include "net/fibentry.h"
#include "net/peerroute.h"
#include "net/routereport.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QThread>

#include <atomic>
#include <map>
#include <memory>

class NetworkState;
class QTimer;
class QUdpSocket;
namespace RouterPacket {
struct Header;
}

// Carries the game's datagrams between the local game (on 127.0.0.1) and
// the other players of a match, directly or through tunnel servers, and
// agrees with the other players' routers on one path per player.
//
// The router lives on the network thread. The calls meant for the session
// flow (setMyId, addPeer, addFloodPath, setState) may be made from any
// thread: made elsewhere, they are queued to the router's thread in call
// order. Getters marked so may be read from any thread.
class Router : public QObject, public PeerRouteSource
{
    Q_OBJECT
public:
    enum STATES {
        NOTHING = 0,
        INITIAL = 1,
        FLOOD = 2,
        REACHED = 3,
        PING = 5,
        READY = 6,
        FIB_READY = 7,
        NOT_REACHED = 8,
        NOT_READY = 9,
        PONG = 10,
        NULL_RESPONSE = 11,
        KEEP_ALIVE = 12
    };
    Q_ENUM(STATES)

    // Every interval of the router, in ms; tests shorten them.
    struct Timing
    {
        int holdTime = 100;
        int sendInterval = 500;
        int floodTimeout = 25000;
        int pingTime = 10000;
        int readyTime = 3000;
        int pingDelay = 1000;
        int timeoutInterval = 1000; // also the keep-alive gap
        int pathTimeout = 15000;
        int publicAddressInterval = 5000;
        // During the game, a best path silent this long is left for one
        // heard from within two thirds of it.
        int failoverSilence = 3000;
    };

    // Limits on what traffic alone can make the router keep.
    static constexpr int kMaxLearnedEntries = 1024;
    static constexpr int kMaxLearnedPaths = 64;
    static constexpr int kMaxGameQueue = 1024;
    static constexpr int kPeerBufferSize = 1284;
    static constexpr int kGamePayloadSize = 1280;

    struct Counters
    {
        quint64 noRoute = 0;
        quint64 control = 0;
        quint64 unhandled = 0;
        quint64 refused = 0; // datagrams from senders over the limits above
        quint64 toGame = 0;
    };

    // The public address it learns is written to network, which outlives it.
    explicit Router(NetworkState *network, QObject *parent = nullptr);
    ~Router() override;

    // Before setSocket only.
    void setTiming(const Timing &timing) { m_timing = timing; }
    const Timing &timing() const { return m_timing; }

    // Takes the IPv4 peer socket over, binds the game socket and starts the
    // timers and the public-address search. Call on the router's thread.
    void setSocket(QUdpSocket *socket);
    void setIPv6Socket(QUdpSocket *socket);
    QUdpSocket *peerSocket() const { return m_v4; }
    QUdpSocket *peerV6Socket() const { return m_v6; }

    // Any thread.
    quint16 gamePort() const { return m_gamePort.load(); }
    STATES state() const { return STATES(m_state.load()); }
    quint32 myId() const { return m_myId.load(); }
    Counters counters() const;
    bool bestRoute(quint32 id, PeerRoute *route) const override;
    QList<IPEndpoint> pathEndpoints(quint32 id) const;
    bool hasEntry(quint32 id) const;
    int entryCount() const;
    int peerState(quint32 id) const; // -1 without an entry
    IPEndpoint publicAddressServer() const;
    // Every opponent's route; on the router's thread (routesChanged() carries
    // copies to the others).
    RouteReport routeReport() const;

    // Session flow; any thread, queued to the router's thread.
    void setMyId(quint32 id);
    void addPeer(quint32 id);
    void addFloodPath(const IPEndpoint &endpoint, int type);
    // A candidate from SpawnInfo::paths: its endpoint and type are copied.
    void addFloodPath(const NetworkPathPtr &path);
    // A path to one player only: its own address from the spawn answer. As a
    // flood path it would also be measured as a way to every other player,
    // whose replies on it then pass for that player's.
    void addPeerPath(quint32 id, const IPEndpoint &endpoint, int type);
    void setState(STATES state);

    static QString stateName(int state);

    // The router's thread; public for the fuzz targets and tests.
    void forwardPacket(QByteArray &datagram, const IPEndpoint &from);
    bool handlePublicAddressReply(const char *data, int size, const IPEndpoint &from);
    void updateBestPath(FibEntry *entry, const NetworkPathPtr &path);
    FibEntry *entry(quint32 id) const;

signals:
    void privStateChanged();
    void stateChanged();
    // During a match: on every change of state and once a second.
    void routesChanged(const RouteReport &report);
    void continueGameRead();
    void continuePeerRead();
    void continuePeerV6Read();

public slots:
    void doManageFIBTimeOut();
    void handlePeerPacket();
    void handleGamePacket();
    void doFastPublicIPFind();

private slots:
    void finalizeFIB();
    void timedOut();
    void sendState();
    void doStateChanged();
    void setStatePing();

private:
    enum class Origin { Game, Peer };

    NetworkState *const m_network;

    void forward(char *data, int size, const IPEndpoint &from, Origin origin);
    NetworkPathPtr addPath(quint32 id, const IPEndpoint &endpoint, Origin origin);
    // True when the control packet produced a reply now in data (24 bytes).
    bool handleControl(char *data, const RouterPacket::Header &header, const NetworkPathPtr &path);
    void writePacketToGame(char *data, int size, const IPEndpoint *game, bool drainQueue);
    void sendTo(const IPEndpoint &endpoint, const char *data, int size);
    bool readPeerSocket(QUdpSocket *socket, qint64 &start, int &count);
    void setStateHere(STATES state);
    // onlyPeer null: every peer of the match.
    void insertFloodPath(const IPEndpoint &endpoint, int type, const quint32 *onlyPeer);
    void setPeerState(quint32 id, int state);
    void checkReached();
    void resetFib();
    void sendKeepAlive(const FibEntry &entry, const NetworkPath &path);
    void sendControl(quint32 receiver, STATES type, const IPEndpoint &to);
    void failOver(FibEntry &entry, qint64 now);
    bool everyPeerAnswered() const;
    void drainGameQueue(const IPEndpoint &game);
    void queryPublicAddress(const IPEndpoint &server);
    // Runs f on the router's thread: now if called there, else queued.
    template<typename F> void onRouterThread(F f)
    {
        if (QThread::currentThread() == thread())
            f();
        else
            QMetaObject::invokeMethod(this, f, Qt::QueuedConnection);
    }
    static qint64 now();

    Timing m_timing;
    QUdpSocket *m_v4 = nullptr;
    QUdpSocket *m_v6 = nullptr;
    QUdpSocket *m_game = nullptr;
    std::atomic<quint16> m_gamePort{0};
    IPEndpoint m_publicServer;
    QSet<IPEndpoint> m_queried;
    QTimer *m_publicTimer = nullptr;
    QTimer *m_timeoutTimer = nullptr;
    QTimer *m_stateTimer = nullptr;
    QTimer *m_phaseTimer = nullptr;
    QTimer *m_pingDelayTimer = nullptr; // check reached -> PING, once

    // Written only on the router's thread; m_fibMutex is held for every
    // change of entries, paths, best paths and rtts so that readers on other
    // threads see a consistent table. The router's own reads take no lock.
    std::map<quint32, std::unique_ptr<FibEntry>> m_fib;
    mutable QMutex m_fibMutex;
    int m_learnedEntries = 0;

    QHash<quint16, quint32> m_gameIds;
    QList<QByteArray> m_gameQueue;
    QByteArray m_peerBuffer;
    QByteArray m_gameBuffer;
    std::atomic<quint32> m_myId{0xFFFFFFFFu};
    std::atomic<int> m_state{NOTHING};

    std::atomic<quint64> m_noRoute{0};
    std::atomic<quint64> m_control{0};
    std::atomic<quint64> m_unhandled{0};
    std::atomic<quint64> m_refused{0};
    std::atomic<quint64> m_toGame{0};
    quint64 m_refusedLogged = 0;
};
