#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A loopback HTTP/1.1 responder with canned answers per method and path, for
// the answers a real service rarely gives (odd content types, broken bodies,
// dropped connections). Records every request it read.
class ScriptedService : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };
    struct Answer
    {
        int status = 200;
        QByteArray contentType = "application/json";
        QByteArray body;
        bool drop = false; // close the connection without answering
        int delayMs = 0;   // answer late
    };

    ~ScriptedService() override;
    bool listen();
    QString rootUrl() const; // http://127.0.0.1:<port>
    QString baseUrl() const; // rootUrl() + "/api/v1"

    // script() replaces the answers to a request; then() queues one more.
    // Answers are used in order and the last one keeps answering.
    void script(const QByteArray &method, const QByteArray &path, const Answer &answer);
    void script(const QByteArray &method, const QByteArray &path, const QByteArray &json);
    void then(const QByteArray &method, const QByteArray &path, const Answer &answer);
    // Answers with a redirect to location.
    void redirect(const QByteArray &method, const QByteArray &path, int status, const QByteArray &location);

    QList<Request> requests;
    QList<Request> requestsTo(const QByteArray &path) const;

private:
    void accept();
    void serve(QTcpSocket *socket);
    Answer answerFor(const Request &request);

    QTcpServer m_server;
    QHash<QByteArray, QList<Answer>> m_answers;
    QHash<QByteArray, QByteArray> m_locations;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

Q_DECLARE_METATYPE(ScriptedService::Answer)
