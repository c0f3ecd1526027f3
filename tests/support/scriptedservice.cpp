#include "scriptedservice.h"

#include <QTcpSocket>
#include <QTimer>

ScriptedService::~ScriptedService()
{
    // The sockets are the server's children; they must not call back into a
    // half-destroyed object.
    for (QTcpSocket *socket : m_server.findChildren<QTcpSocket *>()) {
        socket->disconnect(this);
        delete socket;
    }
}

bool ScriptedService::listen()
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedService::accept);
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString ScriptedService::rootUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

QString ScriptedService::baseUrl() const
{
    return rootUrl() + QStringLiteral("/api/v1");
}

void ScriptedService::script(const QByteArray &method, const QByteArray &path, const Answer &answer)
{
    m_answers[method + ' ' + path] = QList<Answer>{answer};
}

void ScriptedService::then(const QByteArray &method, const QByteArray &path, const Answer &answer)
{
    m_answers[method + ' ' + path].append(answer);
}

void ScriptedService::redirect(const QByteArray &method, const QByteArray &path, int status, const QByteArray &location)
{
    script(method, path, Answer{status, "text/html", QByteArray(), false, 0});
    m_locations.insert(method + ' ' + path, location);
}

void ScriptedService::script(const QByteArray &method, const QByteArray &path, const QByteArray &json)
{
    Answer answer;
    answer.body = json;
    script(method, path, answer);
}

QList<ScriptedService::Request> ScriptedService::requestsTo(const QByteArray &path) const
{
    QList<Request> found;
    for (const Request &r : requests) {
        if (r.path == path)
            found.append(r);
    }
    return found;
}

void ScriptedService::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

ScriptedService::Answer ScriptedService::answerFor(const Request &request)
{
    QList<Answer> &answers = m_answers[request.method + ' ' + request.path];
    if (answers.isEmpty()) {
        Answer missing;
        missing.status = 404;
        missing.contentType = "text/plain";
        missing.body = "no script";
        return missing;
    }
    return answers.size() > 1 ? answers.takeFirst() : answers.first();
}

void ScriptedService::serve(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    for (;;) {
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        Request request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const int length = request.headers.value("content-length").toInt();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);
        requests.append(request);

        const Answer answer = answerFor(request);
        if (answer.drop) {
            socket->abort();
            return;
        }
        QByteArray out = "HTTP/1.1 " + QByteArray::number(answer.status) + " Scripted\r\n";
        if (!answer.contentType.isEmpty())
            out += "Content-Type: " + answer.contentType + "\r\n";
        const QByteArray location = m_locations.value(request.method + ' ' + request.path);
        if (!location.isEmpty())
            out += "Location: " + location + "\r\n";
        out += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n\r\n" + answer.body;
        if (answer.delayMs > 0)
            QTimer::singleShot(answer.delayMs, socket, [socket, out] { socket->write(out); });
        else
            socket->write(out);
    }
}
