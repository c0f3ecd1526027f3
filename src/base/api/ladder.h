#pragma once

#include "api/map.h"
#include "api/side.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

// One ladder of the service; owns its maps (as children) and its sides.
class Ladder : public QObject
{
    Q_OBJECT
public:
    Ladder(const QJsonObject &object, QObject *parent);
    ~Ladder() override;

    // The side whose game number is localId, or null.
    const Side *sideByLocalId(int localId) const;

    int id = 0;
    QString abbreviation;
    QString name;
    QString game;
    QString current;
    int vetoes = 0;
    QMap<int, Map *> maps;
    QMap<int, Side *> sides;

private:
    Q_DISABLE_COPY(Ladder)
};
