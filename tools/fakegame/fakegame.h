#pragma once

#include "gameconfig.h"

#include <QHash>
#include <QObject>
#include <QTimer>

class QFile;
class QUdpSocket;

// One game run: sends a datagram to every opponent through the tunnel each
// interval, counts what comes back, and at the end writes "stats.dmp".
class FakeGame : public QObject
{
    Q_OBJECT
public:
    FakeGame(const QString &launcher, const QStringList &arguments, QObject *parent = nullptr);
    ~FakeGame() override;

    // Starts the run; the exit code arrives through finished().
    void start();
    // SIGTERM: a running exchange ends early with its stats written.
    void stop();

signals:
    void finished(int exitCode);

private:
    void log(const QString &line);
    void crash(bool bySignal);
    // After the load: the socket, the exchange and its end timer.
    void play();
    void sendRound();
    void readPending();
    void finish();

    QString m_launcher;
    QStringList m_arguments;
    QString m_dir;
    QFile *m_log;
    GameConfig m_config;
    SpawnFile m_spawn;
    QUdpSocket *m_socket = nullptr;
    QTimer m_loadTimer;
    QTimer m_sendTimer;
    QTimer m_endTimer;
    quint32 m_sequence = 0;
    QHash<quint16, int> m_sent;
    QHash<quint16, int> m_received;
    int m_stray = 0;
};
