// Ladders, accounts, maps and queue statistics.
#include "api/lorvaneapi.h"
#include "api/matchstate.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>

namespace {

QJsonArray logArray(const char *prefix, const QByteArray &body)
{
    const QJsonArray array = QJsonDocument::fromJson(body).array();
    qDebug().noquote() << QString::fromLatin1(prefix) + QString::fromUtf8(QJsonDocument(array).toJson());
    return array;
}

} // namespace

void LorvaneAPI::fetchLadders()
{
    get(m_laddersPath, &LorvaneAPI::slotFetchLaddersFinished);
}

void LorvaneAPI::fetchPlayers()
{
    get(m_accountPath, &LorvaneAPI::slotFetchPlayersFinished);
}

void LorvaneAPI::fetchMaps()
{
    if (!m_currentPlayer || !m_currentPlayer->ladder || !m_currentPlayer->ladder->maps.isEmpty())
        return;
    get(m_mapsPath.arg(m_currentPlayer->ladder->abbreviation), &LorvaneAPI::slotFetchMapsFinished);
}

void LorvaneAPI::fetchZantryStats()
{
    if (!m_currentPlayer || !m_currentPlayer->ladder)
        return;
    get(m_statsPath.arg(m_currentPlayer->ladder->abbreviation), &LorvaneAPI::slotFetchZantryStatsFinished);
}

void LorvaneAPI::slotFetchLaddersFinished()
{
    QNetworkReply *reply = senderReply();
    if (!reply)
        return;
    const QJsonArray array = logArray("slotFetchLaddersFinished(): ", takeBody(reply));
    qDeleteAll(m_ladders);
    m_ladders.clear();
    for (const QJsonValue &v : array) {
        auto *ladder = new Ladder(v.toObject(), this);
        delete m_ladders.value(ladder->id);
        m_ladders.insert(ladder->id, ladder);
    }
    emit laddersChanged();
}

void LorvaneAPI::slotFetchPlayersFinished()
{
    QNetworkReply *reply = senderReply();
    if (!reply)
        return;
    const QJsonArray array = logArray("slotFetchPlayersFinished():", takeBody(reply));
    const QMap<int, Player *> old = m_players;
    m_players.clear();
    setCurrentPlayer(-1);
    qDeleteAll(old);
    for (const QJsonValue &v : array) {
        auto *player = new Player(v.toObject(), this);
        player->ladder = m_ladders.value(player->ladderId);
        if (!player->ladder)
            qDebug() << "Failed to find ladder id in ladders";
        delete m_players.value(player->id);
        m_players.insert(player->id, player);
    }
    emit playersChanged();
}

void LorvaneAPI::slotFetchMapsFinished()
{
    QNetworkReply *reply = senderReply();
    if (!reply)
        return;
    const QJsonArray array = logArray("slotFetchMapsFinished(): ", takeBody(reply));
    // The player or its ladder may have been reloaded while the request ran.
    Ladder *ladder = m_currentPlayer ? m_currentPlayer->ladder.data() : nullptr;
    if (!ladder) {
        qDebug() << "Maps arrived with no current ladder";
        return;
    }
    qDeleteAll(ladder->maps);
    ladder->maps.clear();
    for (const QJsonValue &v : array) {
        auto *map = new Map(v.toObject(), ladder);
        delete ladder->maps.value(map->id);
        ladder->maps.insert(map->id, map);
    }
    emit currentPlayerMapsChanged();
}

void LorvaneAPI::slotFetchZantryStatsFinished()
{
    QNetworkReply *reply = senderReply();
    if (!reply)
        return;
    const QJsonObject object = QJsonDocument::fromJson(takeBody(reply)).object();
    qDebug().noquote() << "slotFetchZantryMatchFinished(): " + QString::fromUtf8(QJsonDocument(object).toJson());
    MatchState::Stats stats;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        stats.insert(it.key(), it.value().toInt());
    m_match->setZantryStats(stats);
}

void LorvaneAPI::setPlayers(QMap<int, Player *> players)
{
    if (players != m_players)
        m_players = players;
}

void LorvaneAPI::setCurrentPlayer(int id)
{
    const int previous = m_currentPlayer ? m_currentPlayer->id : -1;
    m_currentPlayer = m_players.value(id);
    if (m_currentPlayer && !m_currentPlayer->currentSide() && m_currentPlayer->ladder
        && !m_currentPlayer->ladder->sides.isEmpty())
        m_currentPlayer->setCurrentSide(m_currentPlayer->ladder->sides.first());
    if (m_currentPlayer && m_currentPlayer->id != previous)
        emit currentPlayerChanged();
}
