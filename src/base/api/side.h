#pragma once

#include <QJsonObject>
#include <QString>

// One entry of a ladder's "sides" array; a plain record owned by its ladder.
struct Side
{
    int id = 0;
    int localId = 0; // the game's own number for the side; -1 is allowed
    int ladderId = 0;
    QString name;

    static Side fromJson(const QJsonObject &object);
};
