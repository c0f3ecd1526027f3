#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>

class QTimer;
class QUdpSocket;

// While a game runs, asks a name server for the service's ping host once a
// second and counts queries sent and queries the server answered, so the
// result upload can tell a dropped connection from a player who left.
//
// The query is sent on its own UDP socket rather than through QDnsLookup:
// Qt 5's lookup cannot address a name server at another port than 53, and
// the sandbox and tests run theirs on an ephemeral loopback port.
class InternetDetector : public QObject
{
    Q_OBJECT
public:
    // What the server's answer means for the count, after QDnsLookup's errors.
    enum class Answer { NoError, NotFound, InvalidRequest, InvalidReply, ServerFailure, ServerRefused, Other };

    explicit InternetDetector(QObject *parent = nullptr);

    void start();
    void stop();
    void reset();
    int interval() const { return m_interval; }
    int sent() const { return m_sent; }
    int received() const { return m_received; }

    // DNS wire helpers, public for tests and fuzzing.
    static QByteArray buildQuery(quint16 id, const QString &host);
    // The id and meaning of a reply; false when the bytes are no DNS reply.
    static bool parseReply(const QByteArray &reply, quint16 *id, Answer *answer);
    static bool counts(Answer answer);

public slots:
    void setInterval(int interval);
    void pingInternet();
    void receivePing();

signals:
    void pinged(); // after each answer is counted; for observers and tests

private:
    int m_interval = 1000;
    QTimer *m_timer;
    int m_sent = 0;
    int m_received = 0;
    QUdpSocket *m_socket;
    QHostAddress m_server;
    quint16 m_serverPort = 53;
    QString m_host;
    quint16 m_nextId;
    QList<quint16> m_pending; // queries not yet answered, newest last, bounded
};
