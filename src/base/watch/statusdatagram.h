#pragma once

#include "zantryversion.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// What one status datagram tells companion programs; filled from the session by
// the broadcaster, or by hand in tests.
struct StatusSnapshot
{
    QString version = QStringLiteral(ZANTRY_VERSION);
    qint32 processId = 0;
    QString gameAbbreviation; // empty when no current game
    QString gameExe;
    bool inQueue = false;
    bool inGame = false;

    bool hasGameProcess = false;
    QString mapHash;
    QString uiMapName;
    qint32 gameProcessId = 0;

    bool hasPlayer = false;
    QStringList badges;
    QString clanName;
    QString clanShort;
};

namespace StatusDatagram {

enum ValueType : quint16 { Boolean = 2, Integer = 6, Text = 7 };

constexpr int kMaxBadges = 10;

// Big-endian: a 16-bit total length and 16 zero bits, then tagged records,
// each padded to a multiple of 4.
QByteArray encode(const StatusSnapshot &status);

} // namespace StatusDatagram
