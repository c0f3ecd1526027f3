#pragma once

#include <QByteArray>
#include <QHash>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// Every test that builds application objects runs in its own folder with
// its own HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR and TMPDIR,
// so no test touches the user's settings or caches, another test's files or
// another test's single-instance key.
class TestEnv
{
public:
    TestEnv();
    ~TestEnv();

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    // $XDG_CONFIG_HOME/Lorvane/Zantry.conf
    QString settingsFile() const;

    // Points every endpoint variable at the sandbox (DNS server included), in
    // this process and for child processes built from clientEnvironment().
    // Unset endpoints still point at loopback, never at the public defaults.
    struct Endpoints
    {
        QString siteUrl;
        QString masterListUrl;
        QString mapDbUrl;
        QString logCollectorUrl;
        QString pingHost = QStringLiteral("ping.sandbox.test");
        QString dnsServer = QStringLiteral("127.0.0.1:9");
        // The home router asked for a port mapping: none but loopback here.
        QString homeRouter = QStringLiteral("127.0.0.1");
    };
    void setEndpoints(const Endpoints &endpoints);
    // A sandbox at base URL serves all four HTTP endpoints.
    static Endpoints sandboxEndpoints(const QString &baseUrl, const QString &dnsServer = QString());

    QProcessEnvironment clientEnvironment() const;

    static QString buildDir();
    static QString toolPath(const QString &name); // build/tools/<name>
    static QString zantryPath();                  // build/zantry
    static QString demoPath();                    // build/zantry-demo

private:
    QTemporaryDir m_dir;
    QByteArray m_oldCwd;
    QProcessEnvironment m_env;
    QHash<QByteArray, QByteArray> m_saved;
    void setVar(const QByteArray &name, const QByteArray &value);
    void killLeftovers() const;
};
