#pragma once

#include "api/ladder.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>

// One ladder account of the user ("Battle Nick"), with the per-map side
// choices kept in the settings store for each side it has selected.
class Player : public QObject
{
    Q_OBJECT
public:
    // Map side values besides a side's local id.
    enum MapSideValue { RejectedMap = -2, NoChoice = -3 };
    static constexpr int DefaultMapSideCount = 128;
    // Longest per-map table setMapSide builds; bit indices come from the
    // service, and a wild one must not make us allocate gigabytes.
    static constexpr int MaxMapIndex = 4095;

    Player(const QJsonObject &object, QObject *parent);

    void setSide(int sideId);
    void setCurrentSide(const Side *side);
    // Null when nothing is selected or the side's ladder has been reloaded.
    const Side *currentSide() const;
    QJsonArray mapSides() const;
    int mapSide(int mapIndex) const;
    void setMapSide(int mapIndex, int side);

    int id = 0;
    QString username;
    int ladderId = 0;
    QPointer<Ladder> ladder; // guarded: ladders reload before players do
    int mapBitfield = 0x7FFFFFFF;
    QStringList badges;
    QString clanShort;
    QString clanName;
    QJsonArray defaultMapSides;
    QMap<int, QJsonArray> perMapSides; // side id -> per-map table

private:

    const Side *m_currentSide = nullptr;
    QPointer<Ladder> m_sideLadder;
};
