#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// A link impaired both ways alike (tools/netimpair); the figures are each
// direction's.
struct LinkImpairment
{
    int delayMs = 0;
    int jitterMs = 0;
    double lossPercent = 0;
    bool any() const { return delayMs || jitterMs || lossPercent > 0; }
};

// A small internet made of network namespaces: a public network (one bridge
// on 198.51.100.0/24 unless told another /24) with hosts on it, and players each behind a home NAT
// router. Everything it made goes with it, also when a test fails midway.
// Needs root, ip and nft. Names carry this process's id, so runs beside it
// on the machine do not collide. Used by the namespace tests, bench_route and
// the netlab tool.
class QProcess;
class QTemporaryDir;

class NetLab
{
public:
    enum class Nat { EndpointIndependent, Symmetric };
    using Impairment = LinkImpairment;
    struct Player
    {
        QString lan, router; // namespaces
        QString lanAddress, publicAddress;
    };

    // netimpair: the program that impairs links (build/tools/netimpair);
    // publicNet: the public /24's first three numbers. miniupnpd maps no port
    // on a reserved address such as the default's, so the port-mapping labs
    // take one outside those ranges; nothing leaves the namespaces either way.
    explicit NetLab(const QString &netimpair, const QString &publicNet = QStringLiteral("198.51.100"));
    ~NetLab();
    NetLab(const NetLab &) = delete;
    NetLab &operator=(const NetLab &) = delete;

    // Empty when namespaces can be made here; otherwise why not.
    static QString unavailableReason(const QString &netimpair);

    // The public network; false with errorText() when a command failed.
    bool start();
    // A machine of its own on the public network; its address, empty on failure.
    QString addHost(const QString &name, const Impairment &link = {});
    // A LAN host behind its own NAT router whose uplink carries the
    // impairment; udpTimeoutS > 0 shortens the router's UDP mappings.
    Player addPlayer(const QString &name, Nat nat, const Impairment &uplink = {}, int udpTimeoutS = 0);
    QString ns(const QString &name) const { return m_ns.value(name); }

    // Drops everything between two public addresses on the public network.
    bool cut(const QString &a, const QString &b);
    // A home whose router lets no UDP out of the LAN (TCP still passes).
    bool blockUdp(const Player &p);
    // The player's router answers port-mapping requests: Debian's miniupnpd
    // (nftables) with UPnP-IGD and, when natPmp, NAT-PMP/PCP; it runs until
    // the lab goes. False with errorText() when it did not start.
    bool offerPortMapping(const Player &p, bool natPmp);
    // The router's forwarded ports as "external -> lan address:port" lines.
    QStringList portMappings(const Player &p);

    // Runs a program in the namespace, in a process namespace of its own:
    // a prefix to its command line.
    static QStringList launcher(const QString &ns);
    // A blocking HTTP/1.0 GET from inside the namespace (10 s at most); the
    // body, empty on failure.
    static QByteArray httpGet(const QString &ns, const QString &address, quint16 port, const QString &path);

    // One command, its words split at spaces, checked; input goes to its stdin.
    bool run(const QString &command, const QByteArray &input = QByteArray());
    QString errorText() const { return m_error; }

private:
    QString makeNs(const QString &name);
    bool attach(const QString &name, const QString &dev, const QString &address, const Impairment &link);
    static void removeStale();

    QString m_tag;
    QString m_publicNet;
    QString m_public;
    QStringList m_made;
    QHash<QString, QString> m_ns;
    QString m_netimpair;
    std::vector<std::unique_ptr<QProcess>> m_wires; // netimpair and miniupnpd
    std::unique_ptr<QTemporaryDir> m_files;
    int m_hosts = 0, m_players = 0, m_ports = 0;
    QString m_error;
};
