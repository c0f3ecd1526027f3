#pragma once

#include <QString>

// One tunnel server from the master list; a plain value.
struct TunnelServerInfo
{
    bool valid = true;
    bool enabled = true;
    QString address;
    int port = -1;
    QString country;
    QString country_code;
    QString name;
    QString password;
    int numClients = -1;
    int maxClients = -1;
    bool isOfficial = false;
    int version = -1;

    // The log form: "TunnelServer()<<address=...>>" or "<invalid>".
    QString toString() const;
};
