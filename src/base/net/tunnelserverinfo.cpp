#include "net/tunnelserverinfo.h"

QString TunnelServerInfo::toString() const
{
    if (!valid)
        return QStringLiteral("<invalid>");
    return QStringLiteral("TunnelServer()<<address=") + address + QStringLiteral(",port=") + QString::number(port)
           + QStringLiteral(",country=") + country + QStringLiteral(",country_code=") + country_code
           + QStringLiteral(",name=") + name + QStringLiteral(",password=") + password
           + QStringLiteral(",numClients=") + QString::number(numClients) + QStringLiteral(",maxClients=")
           + QString::number(maxClients) + QStringLiteral(",isOfficial=")
           + (isOfficial ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral(",version=")
           + QString::number(version) + QStringLiteral(">>");
}
