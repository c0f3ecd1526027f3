// The public-address reply: any bytes, from the queried server or not.
#include "silencelogs.h"

#include "net/networkstate.h"
#include "net/routerpacket.h"
#include "net/router.h"

#include <QCoreApplication>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_public_address";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = [] {
        silenceLogs();
        return new QCoreApplication(argc, argv);
    }();
    Q_UNUSED(app);
    static NetworkState *network = [] {
        auto *n = new NetworkState;
        TunnelServerInfo server;
        server.address = QStringLiteral("127.0.0.1");
        n->setTunnelServers({{server.address, server}});
        return n;
    }();

    const char *bytes = reinterpret_cast<const char *>(data);
    QHostAddress address;
    quint16 port = 0;
    if (RouterPacket::parsePublicAddressReply(bytes, int(size), &address, &port)) {
        // Whatever it names must survive the round trip.
        if (RouterPacket::publicAddressReply(address, port).left(8) != QByteArray(bytes, 8))
            __builtin_trap();
    }
    // No socket: the query is only noted, so 127.0.0.1:8054 counts as asked.
    Router router(network);
    router.doFastPublicIPFind();
    router.handlePublicAddressReply(bytes, int(size), IPEndpoint(QHostAddress::LocalHost, 8054));
    router.handlePublicAddressReply(bytes, int(size), IPEndpoint(QHostAddress::LocalHost, 8055));
    return 0;
}
