#include "util/endpoints.h"

#include <QtGlobal>

namespace {

QString fromEnv(const char *name, const QString &fallback)
{
    QString value = qEnvironmentVariable(name).trimmed();
    if (value.isEmpty())
        value = fallback;
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    return value;
}

Endpoints *s_instance = nullptr;

} // namespace

Endpoints::Endpoints()
    : m_siteUrl(fromEnv("ZANTRY_SITE_URL", QStringLiteral("https://ladder.lorvane.net")))
    , m_masterListUrl(fromEnv("ZANTRY_MASTER_LIST_URL", QStringLiteral("http://lorvane.net/master-list")))
    , m_mapDbUrl(fromEnv("ZANTRY_MAP_DB_URL", QStringLiteral("http://mapdb.lorvane.net")))
    , m_logCollectorUrl(fromEnv("ZANTRY_LOG_COLLECTOR_URL", QStringLiteral("http://logs.lorvane.net")))
    , m_pingHost(fromEnv("ZANTRY_PING_HOST", QStringLiteral("ladder.lorvane.net")))
    , m_dnsServer(fromEnv("ZANTRY_DNS_SERVER", QStringLiteral("8.8.8.8")))
    , m_homeRouter(fromEnv("ZANTRY_HOME_ROUTER", QString()))
{
}

const Endpoints &Endpoints::instance()
{
    // Built on the GUI thread during start-up, before any worker exists.
    if (!s_instance)
        s_instance = new Endpoints;
    return *s_instance;
}

void Endpoints::reload()
{
    delete s_instance;
    s_instance = new Endpoints;
}

QString Endpoints::apiUrl() const
{
    return m_siteUrl + QStringLiteral("/api/v1");
}

QString Endpoints::mapPreviewUrl(const QString &abbr, const QString &digest) const
{
    return m_siteUrl + QStringLiteral("/images/maps/") + abbr + QLatin1Char('/') + digest + QStringLiteral(".png");
}

QString Endpoints::mapArchiveUrl(const QString &abbr, const QString &digest) const
{
    // The map database's layout has the doubled slash.
    return m_mapDbUrl + QLatin1Char('/') + abbr + QStringLiteral("//") + digest + QStringLiteral(".zip");
}

QString Endpoints::crashUploadUrl() const
{
    return m_logCollectorUrl + QStringLiteral("/upload.php");
}

QUrl Endpoints::siteLink(const QString &path) const
{
    return QUrl(m_siteUrl + (path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path));
}
