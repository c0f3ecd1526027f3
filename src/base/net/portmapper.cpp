#include "net/portmapper.h"

#include "util/endpoints.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QNetworkInterface>
#include <QUrl>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>
#include <natpmp.h>

#include <arpa/inet.h>
#include <sys/select.h>

namespace {

constexpr int kDiscoveryMs = 1200;
constexpr int kNatPmpMs = 1500;
constexpr int kUpnpConflict = 718;
constexpr int kUpnpOnlyPermanent = 725;
constexpr int kPortsTried = 4;

} // namespace

// Runs the blocking library calls, one at a time, on the mapper's thread.
class PortMapWorker : public QObject
{
    Q_OBJECT
public:
    ~PortMapWorker() override { forgetIgd(); }

    // Maps internalPort; wantPort, when set, is the external port to keep.
    void map(quint16 internalPort, quint16 wantPort, int leaseS);
    void unmap();

signals:
    void result(const PortMapper::Mapping &mapping, const QString &why);

private:
    bool mapUpnp(quint16 internalPort, quint16 wantPort, int leaseS, QString *why);
    bool mapNatPmp(quint16 internalPort, quint16 wantPort, int leaseS, QString *why);
    bool findIgd(QString *why);
    void forgetIgd();
    // The answer to the last request, NAT_PMP's own retries cut short.
    static int natPmpAnswer(natpmp_t *n, natpmpresp_t *response);
    static bool openNatPmp(natpmp_t *n);

    PortMapper::Mapping m_mapping;
    UPNPUrls m_urls = {};
    IGDdatas m_igd = {};
    QByteArray m_lanAddress;
    bool m_haveIgd = false;
};


QString PortMapper::Mapping::text() const
{
    if (!isActive())
        return QString();
    return QStringLiteral("%1 %2:%3, %4")
        .arg(method, externalIP.toString())
        .arg(externalPort)
        .arg(leaseS > 0 ? QStringLiteral("lease %1 s").arg(leaseS) : QStringLiteral("permanent until Zantry exits"));
}

PortMapper::PortMapper(QObject *parent) : QObject(parent), m_worker(new PortMapWorker)
{
    qRegisterMetaType<PortMapper::Mapping>();
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &PortMapWorker::result, this, &PortMapper::applyResult);
    m_renewTimer.setSingleShot(true);
    connect(&m_renewTimer, &QTimer::timeout, this, [this]() {
        const quint16 keep = m_mapping.externalPort;
        QMetaObject::invokeMethod(m_worker, [this, keep]() { m_worker->map(m_internalPort, keep, m_leaseS); });
    });
    m_thread.setObjectName(QStringLiteral("portmapper"));
    m_thread.start();
}

PortMapper::~PortMapper()
{
    m_renewTimer.stop();
    disconnect(m_worker, nullptr, this, nullptr);
    QMetaObject::invokeMethod(m_worker, [this]() { m_worker->unmap(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void PortMapper::start(quint16 internalPort, int leaseS)
{
    if (m_state != QLatin1String("not tried yet"))
        return;
    m_internalPort = internalPort;
    m_leaseS = leaseS;
    m_state = QStringLiteral("asking the router");
    qDebug().noquote() << QStringLiteral("Port mapping: asking the home router for UDP port %1").arg(internalPort);
    QMetaObject::invokeMethod(m_worker, [this, internalPort, leaseS]() { m_worker->map(internalPort, 0, leaseS); });
}

void PortMapper::applyResult(const PortMapper::Mapping &mapping, const QString &why)
{
    const bool changed = mapping.externalIP != m_mapping.externalIP || mapping.externalPort != m_mapping.externalPort
                         || mapping.method != m_mapping.method;
    m_mapping = mapping;
    m_state = mapping.isActive() ? mapping.text() : why;
    qDebug().noquote() << QStringLiteral("Port mapping: ") + (mapping.isActive() ? m_state : QStringLiteral("none, ") + why);
    // Renewed at half the lease; a refused renewal leaves no mapping, and the
    // queried public address takes over again.
    if (mapping.isActive() && mapping.leaseS > 0)
        m_renewTimer.start(mapping.leaseS * 500);
    if (changed)
        emit mappingChanged(m_mapping);
    if (!m_done) {
        m_done = true;
        emit finished(mapping.isActive());
    }
}

void PortMapWorker::map(quint16 internalPort, quint16 wantPort, int leaseS)
{
    QString why, natWhy;
    const QString method = m_mapping.method;
    bool mapped = false;
    if (method.isEmpty() || method == QLatin1String("UPnP-IGD"))
        mapped = mapUpnp(internalPort, wantPort, leaseS, &why);
    if (!mapped && (method.isEmpty() || method == QLatin1String("NAT-PMP"))) {
        mapped = mapNatPmp(internalPort, wantPort, leaseS, &natWhy);
        why = why.isEmpty() ? natWhy : why + QStringLiteral("; ") + natWhy;
    }
    if (!mapped)
        m_mapping = PortMapper::Mapping();
    emit result(m_mapping, why);
}

void PortMapWorker::unmap()
{
    if (!m_mapping.isActive())
        return;
    const QByteArray external = QByteArray::number(m_mapping.externalPort);
    if (m_mapping.method == QLatin1String("UPnP-IGD") && m_haveIgd) {
        const int r = UPNP_DeletePortMapping(m_urls.controlURL, m_igd.first.servicetype, external.constData(), "UDP", nullptr);
        qDebug().noquote() << QStringLiteral("Port mapping: removed %1 (%2)").arg(m_mapping.text()).arg(r);
    } else if (m_mapping.method == QLatin1String("NAT-PMP")) {
        natpmp_t n;
        if (openNatPmp(&n)) {
            natpmpresp_t response;
            sendnewportmappingrequest(&n, NATPMP_PROTOCOL_UDP, m_mapping.internalPort, 0, 0);
            const int r = natPmpAnswer(&n, &response);
            closenatpmp(&n);
            qDebug().noquote() << QStringLiteral("Port mapping: removed %1 (%2)").arg(m_mapping.text()).arg(r);
        }
    }
    m_mapping = PortMapper::Mapping();
}

bool PortMapWorker::findIgd(QString *why)
{
    if (m_haveIgd)
        return true;
    // With a router named, discovery goes out only on the interface facing it
    // and only that router's answer counts.
    const QString router = Endpoints::instance().homeRouter();
    QByteArray multicastIf;
    if (!router.isEmpty()) {
        const QHostAddress routerAddress(router);
        for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
            for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
                if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol
                    && (entry.ip() == routerAddress || routerAddress.isInSubnet(entry.ip(), entry.prefixLength())))
                    multicastIf = entry.ip().toString().toLatin1();
            }
        }
        if (multicastIf.isEmpty()) {
            *why = QStringLiteral("no interface faces the router ") + router;
            return false;
        }
    }
    int error = 0;
    UPNPDev *found = upnpDiscover(kDiscoveryMs, multicastIf.isEmpty() ? nullptr : multicastIf.constData(), nullptr, 0, 0, 2, &error);
    UPNPDev *kept = nullptr, *dropped = nullptr;
    while (found) {
        UPNPDev *next = found->pNext;
        const bool ours = router.isEmpty() || QUrl(QString::fromLatin1(found->descURL)).host() == router;
        found->pNext = ours ? kept : dropped;
        (ours ? kept : dropped) = found;
        found = next;
    }
    freeUPNPDevlist(dropped);
    if (!kept) {
        *why = QStringLiteral("no UPnP-IGD answered");
        return false;
    }
    char lan[64] = {};
    const int status = UPNP_GetValidIGD(kept, &m_urls, &m_igd, lan, sizeof lan);
    freeUPNPDevlist(kept);
    if (status != 1) {
        if (status != 0)
            FreeUPNPUrls(&m_urls);
        m_urls = {};
        *why = status == 2 ? QStringLiteral("the UPnP-IGD is not connected") : QStringLiteral("no UPnP-IGD answered");
        return false;
    }
    m_lanAddress = lan;
    m_haveIgd = true;
    return true;
}

void PortMapWorker::forgetIgd()
{
    if (m_haveIgd)
        FreeUPNPUrls(&m_urls);
    m_urls = {};
    m_haveIgd = false;
}

bool PortMapWorker::mapUpnp(quint16 internalPort, quint16 wantPort, int leaseS, QString *why)
{
    if (!findIgd(why))
        return false;
    char external[40] = {};
    int r = UPNP_GetExternalIPAddress(m_urls.controlURL, m_igd.first.servicetype, external);
    const QHostAddress externalIP(QString::fromLatin1(external));
    if (r != UPNPCOMMAND_SUCCESS || externalIP.isNull()) {
        *why = QStringLiteral("the UPnP-IGD gave no external address (%1)").arg(r);
        forgetIgd();
        return false;
    }
    const QByteArray internal = QByteArray::number(internalPort);
    // The same port outside as inside first; a taken one moves up a little.
    const quint16 first = wantPort ? wantPort : internalPort;
    for (int i = 0; i < kPortsTried; ++i) {
        const quint16 port = quint16(first + i);
        const QByteArray ext = QByteArray::number(port);
        r = UPNP_AddPortMapping(m_urls.controlURL, m_igd.first.servicetype, ext.constData(), internal.constData(),
                                m_lanAddress.constData(), "Zantry", "UDP", nullptr, QByteArray::number(leaseS).constData());
        if (r == kUpnpOnlyPermanent && leaseS > 0) {
            leaseS = 0;
            r = UPNP_AddPortMapping(m_urls.controlURL, m_igd.first.servicetype, ext.constData(), internal.constData(),
                                    m_lanAddress.constData(), "Zantry", "UDP", nullptr, "0");
        }
        if (r == UPNPCOMMAND_SUCCESS) {
            m_mapping = {QStringLiteral("UPnP-IGD"), externalIP, port, internalPort, leaseS};
            return true;
        }
        if (r != kUpnpConflict || wantPort)
            break;
    }
    *why = QStringLiteral("the UPnP-IGD refused the mapping: %1").arg(QString::fromLatin1(strupnperror(r)));
    if (r < 0)
        forgetIgd();
    return false;
}

bool PortMapWorker::openNatPmp(natpmp_t *n)
{
    const QString router = Endpoints::instance().homeRouter();
    in_addr gateway = {};
    const bool named = !router.isEmpty() && ::inet_pton(AF_INET, router.toLatin1().constData(), &gateway) == 1;
    return initnatpmp(n, named ? 1 : 0, gateway.s_addr) == 0;
}

int PortMapWorker::natPmpAnswer(natpmp_t *n, natpmpresp_t *response)
{
    const QDeadlineTimer deadline(kNatPmpMs);
    int r = NATPMP_TRYAGAIN;
    while (r == NATPMP_TRYAGAIN && !deadline.hasExpired()) {
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(n->s, &fds);
        timeval wait = {};
        getnatpmprequesttimeout(n, &wait);
        const qint64 left = deadline.remainingTime();
        if (wait.tv_sec * 1000 + wait.tv_usec / 1000 > left)
            wait = {time_t(left / 1000), suseconds_t((left % 1000) * 1000)};
        ::select(n->s + 1, &fds, nullptr, nullptr, &wait);
        r = readnatpmpresponseorretry(n, response);
    }
    return r;
}

bool PortMapWorker::mapNatPmp(quint16 internalPort, quint16 wantPort, int leaseS, QString *why)
{
    natpmp_t n;
    if (!openNatPmp(&n)) {
        *why = QStringLiteral("no gateway for NAT-PMP");
        return false;
    }
    natpmpresp_t response;
    int r = sendpublicaddressrequest(&n) < 0 ? NATPMP_ERR_SENDERR : natPmpAnswer(&n, &response);
    QHostAddress externalIP;
    if (r == 0)
        externalIP = QHostAddress(ntohl(response.pnu.publicaddress.addr.s_addr));
    if (r == 0)
        r = sendnewportmappingrequest(&n, NATPMP_PROTOCOL_UDP, internalPort, wantPort ? wantPort : internalPort,
                                      uint32_t(leaseS > 0 ? leaseS : PortMapper::kLeaseS))
                    < 0
                ? NATPMP_ERR_SENDERR
                : natPmpAnswer(&n, &response);
    closenatpmp(&n);
    if (r != 0 || externalIP.isNull()) {
        *why = r == NATPMP_TRYAGAIN ? QStringLiteral("no NAT-PMP answer") : QStringLiteral("NAT-PMP error %1").arg(r);
        return false;
    }
    m_mapping = {QStringLiteral("NAT-PMP"), externalIP, response.pnu.newportmapping.mappedpublicport, internalPort,
                 int(response.pnu.newportmapping.lifetime)};
    return true;
}

#include "portmapper.moc"
