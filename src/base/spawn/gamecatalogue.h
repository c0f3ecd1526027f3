#pragma once

#include "spawn/spawnablegame.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

// The games this client knows: those stored in the settings and those whose
// launcher lies in the game folder. It owns one object per abbreviation for
// its lifetime, so a pointer handed out stays good while the catalogue
// lives, and it knows the current game (the one of the chosen ladder).
class GameCatalogue : public QObject
{
    Q_OBJECT
public:
    // A view; the catalogue keeps ownership.
    using Table = QMap<QString, SpawnableGame *>;

    explicit GameCatalogue(QObject *parent = nullptr);
    ~GameCatalogue() override;

    // Reads the stored games, then looks for each built-in game's launcher in
    // the current folder and its parent; the last one found becomes the
    // local game and is stored. Known objects are read afresh in place.
    void discover();

    Table games() const;
    SpawnableGame *game(const QString &abbreviation) const;
    // The catalogue's object for the abbreviation, made on first use.
    SpawnableGame *add(const QString &abbreviation);
    QString localGame() const { return m_localGame; }

    SpawnableGame *current() const { return m_current; }
    // Null, or one of this catalogue's games; an unknown abbreviation leaves none.
    void setCurrent(SpawnableGame *game);
    void setCurrent(const QString &abbreviation) { m_current = game(abbreviation); }

private:
    std::map<QString, std::unique_ptr<SpawnableGame>> m_games;
    QString m_localGame;
    SpawnableGame *m_current = nullptr;
};
