// Any bytes from any endpoint, in every router state. The input is a list
// of records: [state][endpoint][length][bytes...], length 255 meaning
// the rest (for datagrams up to the full 1284 bytes); the router is built
// afresh for each input and has no sockets, so nothing is sent anywhere.
#include "silencelogs.h"

#include "net/networkstate.h"
#include "net/router.h"

#include <QCoreApplication>

#include <cstdint>

namespace {
const Router::STATES kStates[] = {Router::NOTHING, Router::INITIAL, Router::FLOOD, Router::REACHED,
                                  Router::PING, Router::READY, Router::FIB_READY, Router::NOT_REACHED};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_router_forward";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = [] {
        silenceLogs();
        return new QCoreApplication(argc, argv);
    }();
    Q_UNUSED(app);
    static NetworkState network;

    Router router(&network);
    const quint32 me = 0x00010001;
    router.setMyId(me);
    router.setState(Router::INITIAL);
    router.addPeer(0x00020002);
    router.addPeer(0x00030003);
    router.addFloodPath(IPEndpoint(QHostAddress(QStringLiteral("127.0.0.1")), 1000), NetworkPath::Direct);
    router.addFloodPath(IPEndpoint(QHostAddress(QStringLiteral("::1")), 1001), NetworkPath::Tunnel);

    size_t at = 0;
    while (at + 3 <= size) {
        router.setState(kStates[data[at] % (sizeof kStates / sizeof kStates[0])]);
        const uint8_t ep = data[at + 1];
        IPEndpoint from;
        if (ep % 5 == 1)
            from = IPEndpoint(QHostAddress(QStringLiteral("::1")), quint16(1000 + ep / 5));
        else if (ep % 5 != 0)
            from = IPEndpoint(QHostAddress(quint32(0x7F000001u + ep % 5)), quint16(1000 + ep / 5));
        const size_t length = data[at + 2] == 255 ? size - at - 3 : qMin<size_t>(data[at + 2], size - at - 3);
        QByteArray datagram(reinterpret_cast<const char *>(data + at + 3), int(length));
        router.forwardPacket(datagram, from);
        if (ep & 0x80)
            router.doManageFIBTimeOut();
        at += 3 + length;
    }
    return 0;
}
