#include "httpserver.h"

#include "context.h"
#include "journal.h"
#include "tokenstore.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <strings.h>

namespace {

const char *const OriginalContentType = "X-Sandbox-Original-Content-Type";
constexpr int RecordedBodyLimit = 64 * 1024;

bool internalHeader(const std::string &name)
{
    return name == OriginalContentType || name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR"
        || name == "LOCAL_PORT";
}

} // namespace

namespace Http {

void replyJson(httplib::Response &res, int status, const QJsonValue &value)
{
    const QByteArray text = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Indented)
                                            : QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented);
    res.status = status;
    res.set_content(text.constData(), size_t(text.size()), "application/json");
}

void replyText(httplib::Response &res, int status, const QByteArray &text, const char *contentType)
{
    res.status = status;
    res.set_content(text.constData(), size_t(text.size()), contentType);
}

QByteArray body(const httplib::Request &req)
{
    return QByteArray(req.body.data(), int(req.body.size()));
}

QString path(const httplib::Request &req)
{
    return QString::fromStdString(req.path);
}

QString match(const httplib::Request &req, int n)
{
    return n < int(req.matches.size()) ? QString::fromStdString(req.matches[size_t(n)].str()) : QString();
}

QByteArray contentType(const httplib::Request &req)
{
    const std::string original = req.get_header_value(OriginalContentType);
    return QByteArray::fromStdString(original.empty() ? req.get_header_value("Content-Type") : original);
}

QString bearerEmail(const httplib::Request &req, const SandboxContext &context)
{
    const QByteArray value = QByteArray::fromStdString(req.get_header_value("Authorization"));
    // The client writes "Bearer:" and the token with nothing between them.
    if (!value.startsWith("Bearer:"))
        return QString();
    const QString token = QString::fromUtf8(value.mid(7));
    return token.isEmpty() ? QString() : context.tokens.email(token);
}

httplib::Server::Handler scripted(SandboxContext &context, httplib::Server::Handler handler)
{
    return [&context, handler](const httplib::Request &req, httplib::Response &res) {
        if (const int delay = context.delayMs.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        const QString path = Http::path(req);
        int status = 0;
        {
            QMutexLocker lock(&context.faultMutex);
            for (auto it = context.faults.cbegin(); it != context.faults.cend() && !status; ++it) {
                const bool prefix = it.key().endsWith(QLatin1Char('*'));
                if (prefix ? path.startsWith(it.key().chopped(1)) : path == it.key())
                    status = it.value();
            }
        }
        if (status) {
            context.journal.log(QStringLiteral("scripted fault %1 for %2").arg(status).arg(path));
            replyText(res, status, "<html><body>Scripted failure</body></html>\n", "text/html");
            return;
        }
        handler(req, res);
    };
}

} // namespace Http

HttpServer::HttpServer(SandboxContext &context)
    : m_context(context)
{
    // Each keep-alive connection holds a worker while idle; two clients
    // with several connections each must not starve one another.
    m_server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    m_server.set_keep_alive_timeout(2);
    // Headers and body go out in two writes; without this each reply waits
    // for the peer's delayed ACK (about 40 ms).
    m_server.set_tcp_nodelay(true);
    m_server.set_payload_max_length(64 * 1024 * 1024);
    m_server.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &) {
        // httplib's multipart parser rejects a disposition that ends in ";"
        // and drops the raw part headers; relabelled, the body stays whole
        // and the handlers parse it themselves. The request object is the
        // server's own, not a constant.
        const std::string type = req.get_header_value("Content-Type");
        if (type.size() >= 10 && strncasecmp(type.c_str(), "multipart/", 10) == 0) {
            auto &headers = const_cast<httplib::Request &>(req).headers;
            headers.erase("Content-Type");
            headers.emplace("Content-Type", "application/octet-stream");
            headers.emplace(OriginalContentType, type);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    m_server.set_post_routing_handler([this](const httplib::Request &req, httplib::Response &res) { record(req, res); });
}

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::record(const httplib::Request &req, const httplib::Response &res)
{
    const QString path = QString::fromStdString(req.path);
    const QString line = QStringLiteral("%1 %2 -> %3 (%4 bytes)")
                             .arg(QString::fromStdString(req.method), QString::fromStdString(req.target))
                             .arg(res.status)
                             .arg(req.body.size());
    m_context.journal.log(line);
    // The harness's own calls are not what the client sent.
    if (path.startsWith(QLatin1String("/inspect")) || path.startsWith(QLatin1String("/control/")))
        return;
    QJsonObject headers;
    for (const auto &h : req.headers) {
        if (internalHeader(h.first))
            continue;
        const QString name = QString::fromStdString(h.first);
        const QString value = name.compare(QLatin1String("Content-Type"), Qt::CaseInsensitive) == 0
            ? QString::fromUtf8(Http::contentType(req))
            : QString::fromStdString(h.second);
        headers.insert(name, headers.contains(name) ? headers.value(name).toString() + QStringLiteral(", ") + value : value);
    }
    m_context.journal.add(Journal::Requests,
                          QJsonObject{{QStringLiteral("method"), QString::fromStdString(req.method)},
                                      {QStringLiteral("path"), path},
                                      {QStringLiteral("target"), QString::fromStdString(req.target)},
                                      {QStringLiteral("headers"), headers},
                                      {QStringLiteral("body"), QString::fromUtf8(Http::body(req).left(RecordedBodyLimit))},
                                      {QStringLiteral("bodySize"), double(req.body.size())},
                                      {QStringLiteral("status"), res.status},
                                      {QStringLiteral("remote"), QStringLiteral("%1:%2").arg(QString::fromStdString(req.remote_addr)).arg(req.remote_port)}});
}

int HttpServer::bind(const QString &address, int port)
{
    if (port == 0)
        return m_server.bind_to_any_port(address.toStdString());
    return m_server.bind_to_port(address.toStdString(), port) ? port : -1;
}

void HttpServer::start()
{
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
}

void HttpServer::stop()
{
    if (m_thread.joinable()) {
        m_server.stop();
        m_thread.join();
    }
}
