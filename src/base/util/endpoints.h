#pragma once

#include <QString>
#include <QUrl>

// The service's hosts. Each has a built-in default and an environment
// override; read once, at first use, and never from anywhere else.
class Endpoints
{
public:
    static const Endpoints &instance();

    QString siteUrl() const { return m_siteUrl; }            // ZANTRY_SITE_URL
    QString masterListUrl() const { return m_masterListUrl; } // ZANTRY_MASTER_LIST_URL
    QString mapDbUrl() const { return m_mapDbUrl; }           // ZANTRY_MAP_DB_URL
    QString logCollectorUrl() const { return m_logCollectorUrl; } // ZANTRY_LOG_COLLECTOR_URL
    QString pingHost() const { return m_pingHost; }           // ZANTRY_PING_HOST
    QString dnsServer() const { return m_dnsServer; }         // ZANTRY_DNS_SERVER
    // The home router asked for a port mapping: empty, whichever answers the
    // discovery (and the default gateway); else only the one at that address.
    QString homeRouter() const { return m_homeRouter; }       // ZANTRY_HOME_ROUTER

    // Derived addresses, so that no other unit builds service URLs by hand.
    QString apiUrl() const;                                              // site + "/api/v1"
    QString mapPreviewUrl(const QString &abbr, const QString &digest) const;
    QString mapArchiveUrl(const QString &abbr, const QString &digest) const;
    QString crashUploadUrl() const;                                      // collector + "/upload.php"
    QUrl siteLink(const QString &path) const;                            // ladder pages, help, register

    // Re-reads the environment; for tests that change it after start-up.
    static void reload();

private:
    Endpoints();
    QString m_siteUrl;
    QString m_masterListUrl;
    QString m_mapDbUrl;
    QString m_logCollectorUrl;
    QString m_pingHost;
    QString m_dnsServer;
    QString m_homeRouter;
};
