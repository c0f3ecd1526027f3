#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

struct SideDef
{
    int id = 0;
    int localId = 0;
    QString name;
};

struct MapDef
{
    int id = 0;
    int bitIdx = 0;
    int mapId = 0;
    QString description;
    QString fileName;
    QByteArray bytes;
    QString hash; // SHA-1 of bytes
    QList<int> allowedSides;
    bool hasPreview = true;
    bool hasArchive = true;
};

struct LadderDef
{
    int id = 0;
    QString abbreviation;
    QString name;
    QString game;
    QString current;
    int vetoes = 0;
    int playersPerMatch = 2;
    QList<int> allowedSides;
    QList<SideDef> sides;
    QList<MapDef> maps;
};

struct PlayerDef
{
    int id = 0;
    QString username;
    QString ladder; // abbreviation
    QStringList badges;
    QString clanShort;
    QString clanName;
};

struct AccountDef
{
    QString email;
    QString password;
    QString userName;
    QString token; // accepted from the start; empty: only tokens from login
    QString fatal; // non-empty: find-match answers "fatal" with this text
    QList<PlayerDef> players;
};

// Accounts, ladders and maps the sandbox serves. Read-only once loaded, so
// the HTTP threads share it without a lock.
class DataSet
{
public:
    static DataSet builtin();
    // DIR/sandbox.json plus DIR/maps/<abbr>/<file>.
    static bool load(const QString &dir, DataSet *out, QString *error);
    bool write(const QString &dir, QString *error) const;

    QList<LadderDef> ladders;
    QList<AccountDef> accounts;

    const LadderDef *ladder(const QString &abbreviation) const;
    const AccountDef *account(const QString &email) const;
    const PlayerDef *player(const AccountDef &account, const QString &ladder, const QString &username) const;
    const MapDef *map(const QString &abbreviation, const QString &digest) const;

    QJsonArray laddersJson() const;
    QJsonArray mapsJson(const LadderDef &ladder) const;
    QJsonArray playersJson(const AccountDef &account) const;

    // A small PNG for a map, coloured by its digest.
    static QByteArray previewPng(const QString &digest);
    // Deterministic synthetic map text of about size bytes.
    static QByteArray syntheticMap(const QString &title, int players, int size, quint32 seed);

private:
    void finish(); // digests
};
