#pragma once

#include "net/networkstate.h"

#include <QHostAddress>
#include <QObject>

#include <atomic>

class QNetworkAccessManager;
class QNetworkReply;
class QThread;
class QTimer;
class QUdpSocket;
class Router;

// The network side of start-up: the worker thread, the local addresses,
// the peer sockets, the router, and the tunnel list fetched every minute.
class LorvaneNetwork : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 kFirstPort = 51143;
    static constexpr int kBindAttempts = 22;
    static constexpr int kFetchInterval = 60000;

    // Lives on its own worker thread, so it has no parent; firstPort is the
    // first peer port tried (tests pass their own); the peer socket binds
    // bindAddress (the bot and namespace tests pass one address). What the
    // worker thread learns goes into state, which must outlive this object.
    explicit LorvaneNetwork(NetworkState *state, quint16 firstPort = kFirstPort,
                            const QHostAddress &bindAddress = QHostAddress(QHostAddress::AnyIPv4));
    // Stops the worker thread; the router and sockets go with it.
    ~LorvaneNetwork() override;

    // Any thread; null until threadStarted(). The router lives on the worker thread.
    Router *router() const { return m_router.load(); }
    quint16 port() const { return m_port; }

    // The master list's text, parsed line by line; rejected lines are
    // skipped, kept ones logged.
    static NetworkState::TunnelTable parseMasterList(const QByteArray &body);
    // Any thread; the 60 s default is for the program, tests shorten it.
    void setFetchInterval(int ms);

signals:
    void threadStarted();
    void tunnelServersChanged();
    void stunFinished();

public slots:
    void fetchTunnels();

private slots:
    void doSetup();
    void setupLocalAddress();
    void slotFetchTunnelsFinished(QNetworkReply *reply);

private:
    void teardown();

    NetworkState *const m_state;
    QNetworkAccessManager *m_manager = nullptr;
    QString m_masterListUrl;
    QTimer *m_fetchTimer = nullptr;
    QUdpSocket *m_socket = nullptr;
    QUdpSocket *m_socketV6 = nullptr;
    std::atomic<Router *> m_router{nullptr};
    quint16 m_port;
    QHostAddress m_bindAddress;
    int m_fetchInterval = kFetchInterval;
    QThread *m_thread = nullptr;
};
