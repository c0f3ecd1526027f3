#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <httplib.h>

#include <thread>

struct SandboxContext;

// httplib's server on its own thread, with every request recorded in the
// journal after its handler ran (so /inspect shows the status too).
class HttpServer
{
public:
    explicit HttpServer(SandboxContext &context);
    ~HttpServer();

    int bind(const QString &address, int port); // the bound port, or -1
    void start();
    void stop();
    httplib::Server &server() { return m_server; }

private:
    void record(const httplib::Request &req, const httplib::Response &res);

    SandboxContext &m_context;
    httplib::Server m_server;
    std::thread m_thread;
};

namespace Http {

void replyJson(httplib::Response &res, int status, const QJsonValue &value);
void replyText(httplib::Response &res, int status, const QByteArray &text, const char *contentType = "text/plain");
QByteArray body(const httplib::Request &req);
QString path(const httplib::Request &req);          // decoded, as text
QString match(const httplib::Request &req, int n); // regex group n, as text
// The request's own Content-Type, also for multipart bodies that the server
// relabels so that it keeps them whole.
QByteArray contentType(const httplib::Request &req);
// The account of "Authorization: Bearer:<token>"; empty when missing or unknown.
QString bearerEmail(const httplib::Request &req, const SandboxContext &context);

// The handler behind the scripted delay and faults of /control.
httplib::Server::Handler scripted(SandboxContext &context, httplib::Server::Handler handler);

} // namespace Http
