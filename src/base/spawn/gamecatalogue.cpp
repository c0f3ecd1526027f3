#include "spawn/gamecatalogue.h"

#include "util/settings.h"

#include <QDebug>

GameCatalogue::GameCatalogue(QObject *parent) : QObject(parent) {}

GameCatalogue::~GameCatalogue() = default;

void GameCatalogue::discover()
{
    const QStringList saved = Settings::games();
    for (const QString &abbreviation : saved)
        add(abbreviation)->load();
    SpawnableGame *last = nullptr;
    for (const QString &abbreviation : SpawnableGame::builtIns()) {
        if (!SpawnableGame::launcherNearby(abbreviation) && !game(abbreviation))
            continue;
        SpawnableGame *found = add(abbreviation);
        found->detect();
        m_localGame = abbreviation;
        last = found;
    }
    if (last)
        last->save();
    for (const auto &entry : m_games)
        entry.second->hashFiles();
}

GameCatalogue::Table GameCatalogue::games() const
{
    Table table;
    for (const auto &entry : m_games)
        table.insert(entry.first, entry.second.get());
    return table;
}

SpawnableGame *GameCatalogue::game(const QString &abbreviation) const
{
    const auto it = m_games.find(abbreviation);
    return it == m_games.end() ? nullptr : it->second.get();
}

SpawnableGame *GameCatalogue::add(const QString &abbreviation)
{
    std::unique_ptr<SpawnableGame> &slot = m_games[abbreviation];
    if (!slot)
        slot = std::make_unique<SpawnableGame>(abbreviation);
    return slot.get();
}

void GameCatalogue::setCurrent(SpawnableGame *game)
{
    if (game && this->game(game->abbreviation) != game) {
        qDebug().noquote() << "Not a game of this catalogue: " + game->abbreviation;
        game = nullptr;
    }
    m_current = game;
}
