#include "testenv.h"

#include "util/endpoints.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <csignal>
#include <sys/types.h>

namespace {
// Loopback placeholders, so a test that forgets an endpoint fails locally
// instead of reaching the service's real hosts.
const char *const kUnsetHttp = "http://127.0.0.1:9";
} // namespace

TestEnv::TestEnv()
{
    m_oldCwd = QDir::currentPath().toLocal8Bit();
    const QString base = m_dir.path();
    for (const char *sub : {"home", "config", "cache", "runtime", "tmp", "work"})
        QDir(base).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(base + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                 | QFileDevice::ExeOwner);
    setVar("HOME", QFile::encodeName(base + QStringLiteral("/home")));
    setVar("XDG_CONFIG_HOME", QFile::encodeName(base + QStringLiteral("/config")));
    setVar("XDG_CACHE_HOME", QFile::encodeName(base + QStringLiteral("/cache")));
    setVar("XDG_RUNTIME_DIR", QFile::encodeName(base + QStringLiteral("/runtime")));
    setVar("TMPDIR", QFile::encodeName(base + QStringLiteral("/tmp")));
    setVar("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("/home/.local/share")));
    // The stand-in games end once this process is gone (they outlive the
    // client that started them, as real games do).
    setVar("ZANTRY_RUN_PID", QByteArray::number(QCoreApplication::applicationPid()));
    Endpoints none;
    none.siteUrl = none.masterListUrl = none.mapDbUrl = none.logCollectorUrl = QString::fromLatin1(kUnsetHttp);
    setEndpoints(none);
    QDir::setCurrent(base + QStringLiteral("/work"));
    if (QCoreApplication::instance()) {
        QCoreApplication::setOrganizationName(QStringLiteral("Lorvane"));
        QCoreApplication::setOrganizationDomain(QStringLiteral("Lorvane"));
        QCoreApplication::setApplicationName(QStringLiteral("Zantry"));
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, base + QStringLiteral("/config"));
    QSettings().sync();
}

TestEnv::~TestEnv()
{
    killLeftovers();
    QDir::setCurrent(QString::fromLocal8Bit(m_oldCwd));
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
        if (it.value().isNull())
            qunsetenv(it.key().constData());
        else
            qputenv(it.key().constData(), it.value());
    }
    ::Endpoints::reload();
}

// A client killed in a test leaves its game running, as it would on a
// player's machine; here that game would go on to pause the next test's
// queue (its launcher's name is on the watch list). Whatever still runs from
// this folder goes with it.
void TestEnv::killLeftovers() const
{
    const QString root = QDir(m_dir.path()).canonicalPath() + QLatin1Char('/');
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : pids) {
        bool isPid = false;
        const qint64 pid = name.toLongLong(&isPid);
        if (!isPid || pid == QCoreApplication::applicationPid())
            continue;
        for (const char *link : {"/exe", "/cwd"}) {
            const QString target = QFile::symLinkTarget(QStringLiteral("/proc/") + name + QLatin1String(link));
            if (target.startsWith(root)) {
                ::kill(pid_t(pid), SIGKILL);
                break;
            }
        }
    }
}

void TestEnv::setVar(const QByteArray &name, const QByteArray &value)
{
    if (!m_saved.contains(name))
        m_saved.insert(name, qEnvironmentVariableIsSet(name.constData()) ? qgetenv(name.constData()) : QByteArray());
    qputenv(name.constData(), value);
}

QString TestEnv::settingsFile() const
{
    return m_dir.path() + QStringLiteral("/config/Lorvane/Zantry.conf");
}

void TestEnv::setEndpoints(const Endpoints &e)
{
    auto orUnset = [](const QString &v) { return v.isEmpty() ? QByteArray(kUnsetHttp) : v.toUtf8(); };
    setVar("ZANTRY_SITE_URL", orUnset(e.siteUrl));
    setVar("ZANTRY_MASTER_LIST_URL", orUnset(e.masterListUrl));
    setVar("ZANTRY_MAP_DB_URL", orUnset(e.mapDbUrl));
    setVar("ZANTRY_LOG_COLLECTOR_URL", orUnset(e.logCollectorUrl));
    setVar("ZANTRY_PING_HOST", e.pingHost.toUtf8());
    setVar("ZANTRY_DNS_SERVER", e.dnsServer.isEmpty() ? QByteArray("127.0.0.1:9") : e.dnsServer.toUtf8());
    setVar("ZANTRY_HOME_ROUTER", e.homeRouter.isEmpty() ? QByteArray("127.0.0.1") : e.homeRouter.toUtf8());
    ::Endpoints::reload();
}

TestEnv::Endpoints TestEnv::sandboxEndpoints(const QString &baseUrl, const QString &dnsServer)
{
    Endpoints e;
    e.siteUrl = baseUrl;
    e.masterListUrl = baseUrl + QStringLiteral("/master-list");
    e.mapDbUrl = baseUrl + QStringLiteral("/mapdb");
    e.logCollectorUrl = baseUrl;
    if (!dnsServer.isEmpty())
        e.dnsServer = dnsServer;
    return e;
}

QProcessEnvironment TestEnv::clientEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("offscreen")));
    return env;
}

QString TestEnv::buildDir()
{
    const QString fromEnv = qEnvironmentVariable("ZANTRY_BUILD_DIR");
    return fromEnv.isEmpty() ? QStringLiteral(ZANTRY_BUILD_DIR_DEFAULT) : fromEnv;
}

QString TestEnv::toolPath(const QString &name)
{
    return buildDir() + QStringLiteral("/tools/") + name;
}

QString TestEnv::zantryPath()
{
    return buildDir() + QStringLiteral("/zantry");
}

QString TestEnv::demoPath()
{
    return buildDir() + QStringLiteral("/zantry-demo");
}
