#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

// One map of a ladder's pool; its parent is the ladder.
class Map : public QObject
{
    Q_OBJECT
public:
    Map(const QJsonObject &object, QObject *parent);

    int id = 0;
    int bitIndex = 0;
    QString hash;
    QString description;
    QJsonObject raw; // the whole entry, for keys other code reads ("map_id")
    QList<int> allowedSides;
};
