#include "matchmaker.h"

#include "options.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <algorithm>

namespace {
QString key(const QString &ladder, const QString &username)
{
    return ladder + QLatin1Char('/') + username;
}
} // namespace

Matchmaker::Matchmaker(const SandboxOptions &options)
    : m_options(options)
    , m_nextGameId(options.firstGameId)
    , m_checkback(options.checkback)
{
}

int Matchmaker::playersPerMatch(const LadderDef &ladder) const
{
    return qBound(2, m_options.playersPerMatch > 0 ? m_options.playersPerMatch : ladder.playersPerMatch, 8);
}

void Matchmaker::prune()
{
    if (m_options.queueTimeout <= 0)
        return;
    const qint64 limit = QDateTime::currentMSecsSinceEpoch() - qint64(m_options.queueTimeout) * 1000;
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(), [limit](const QueueEntry &e) { return e.lastSeen < limit; }),
                  m_queue.end());
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->formedAt < limit)
            it = m_pending.erase(it);
        else
            ++it;
    }
}

bool Matchmaker::dequeue(const QString &ladder, const QString &username)
{
    const auto gone = std::remove_if(m_queue.begin(), m_queue.end(),
                                     [&](const QueueEntry &e) { return e.ladder == ladder && e.username == username; });
    const bool found = gone != m_queue.end();
    m_queue.erase(gone, m_queue.end());
    return found;
}

void Matchmaker::setCheckback(int seconds)
{
    QMutexLocker lock(&m_mutex);
    m_checkback = seconds;
}

QJsonObject Matchmaker::matchMeUp(const LadderDef &ladder, const QString &username, const QString &email,
                                  const QJsonObject &request)
{
    QMutexLocker lock(&m_mutex);
    prune();
    const QString k = key(ladder.abbreviation, username);
    if (m_pending.contains(k))
        return m_pending.take(k).reply;

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    auto it = std::find_if(m_queue.begin(), m_queue.end(), [&](const QueueEntry &e) {
        return e.ladder == ladder.abbreviation && e.username == username;
    });
    if (it == m_queue.end()) {
        m_queue.append({ladder.abbreviation, username, email, request, now, now});
    } else {
        it->request = request;
        it->lastSeen = now;
    }

    // Queue order; the asker plus the longest-waiting others of its ladder.
    const int needed = playersPerMatch(ladder);
    QList<QueueEntry> players;
    int others = 0;
    for (const QueueEntry &e : qAsConst(m_queue)) {
        if (e.ladder != ladder.abbreviation)
            continue;
        if (e.username == username) {
            players.append(e);
        } else if (others < needed - 1) {
            players.append(e);
            ++others;
        }
    }
    if (players.size() == needed) {
        const QJsonObject failure = formMatch(ladder, players);
        return failure.isEmpty() ? m_pending.take(k).reply : failure;
    }

    QJsonObject wait{{QStringLiteral("type"), QStringLiteral("please wait")},
                     {QStringLiteral("message"), QStringLiteral("Searching for an opponent")}};
    if (m_checkback >= 0)
        wait.insert(QStringLiteral("checkback"), m_checkback);
    return wait;
}

// Empty on success; the replies wait in m_pending.
QJsonObject Matchmaker::formMatch(const LadderDef &ladder, const QList<QueueEntry> &players)
{
    const int seed = m_options.seed > 0 ? m_options.seed : int(QRandomGenerator::global()->bounded(1, 2147483647));
    const qint64 gameId = m_nextGameId;
    if (m_nextGameId > 0)
        m_nextGameId = m_nextGameId >= 4294967295LL ? 1 : m_nextGameId + 1;
    const MapDef *map = SpawnBuilder::chooseMap(ladder, players, quint32(seed), m_options.forceMap);
    if (!map) {
        return QJsonObject{{QStringLiteral("type"), QStringLiteral("fatal")},
                           {QStringLiteral("message"), QStringLiteral("This ladder has no maps.")}};
    }
    const QList<QJsonObject> replies = SpawnBuilder::build(ladder, players, *map, seed, gameId,
                                                                  m_options.addresses == QLatin1String("loopback"));

    QJsonObject spawns;
    QJsonObject requests;
    QJsonArray names;
    for (int i = 0; i < players.size(); ++i) {
        const QString &name = players.at(i).username;
        names.append(name);
        spawns.insert(name, replies.at(i));
        requests.insert(name, players.at(i).request);
        dequeue(ladder.abbreviation, name);
        m_pending.insert(key(ladder.abbreviation, name), {QDateTime::currentMSecsSinceEpoch(), replies.at(i)});
    }
    m_matches.append(QJsonObject{{QStringLiteral("gameID"), double(gameId)},
                                 {QStringLiteral("ladder"), ladder.abbreviation},
                                 {QStringLiteral("seed"), seed},
                                 {QStringLiteral("mapHash"), map->hash},
                                 {QStringLiteral("mapName"), map->description},
                                 {QStringLiteral("players"), names},
                                 {QStringLiteral("requests"), requests},
                                 {QStringLiteral("spawns"), spawns}});
    return QJsonObject();
}

QJsonObject Matchmaker::quit(const QString &ladder, const QString &username)
{
    QMutexLocker lock(&m_mutex);
    const bool removed = dequeue(ladder, username);
    m_pending.remove(key(ladder, username));
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("quit")},
                       {QStringLiteral("message"), removed ? QStringLiteral("Removed from the queue")
                                                           : QStringLiteral("Not in the queue")}};
}

int Matchmaker::queued(const QString &ladder)
{
    QMutexLocker lock(&m_mutex);
    prune();
    return int(std::count_if(m_queue.cbegin(), m_queue.cend(), [&](const QueueEntry &e) { return e.ladder == ladder; }));
}

int Matchmaker::matches(const QString &ladder) const
{
    QMutexLocker lock(&m_mutex);
    return int(std::count_if(m_matches.begin(), m_matches.end(), [&](const QJsonValue &m) {
        return m.toObject().value(QStringLiteral("ladder")).toString() == ladder;
    }));
}

QJsonArray Matchmaker::queueJson()
{
    QMutexLocker lock(&m_mutex);
    prune();
    QJsonArray out;
    for (const QueueEntry &e : m_queue)
        out.append(QJsonObject{{QStringLiteral("ladder"), e.ladder},
                               {QStringLiteral("username"), e.username},
                               {QStringLiteral("email"), e.email},
                               {QStringLiteral("queuedAt"), double(e.queuedAt)},
                               {QStringLiteral("lastSeen"), double(e.lastSeen)},
                               {QStringLiteral("request"), e.request}});
    return out;
}

QJsonArray Matchmaker::pendingJson()
{
    QMutexLocker lock(&m_mutex);
    prune();
    QStringList keys = m_pending.keys();
    keys.sort();
    return QJsonArray::fromStringList(keys);
}

QJsonArray Matchmaker::matchesJson() const
{
    QMutexLocker lock(&m_mutex);
    return m_matches;
}

void Matchmaker::reset()
{
    QMutexLocker lock(&m_mutex);
    m_queue.clear();
    m_pending.clear();
    m_matches = QJsonArray();
    m_nextGameId = m_options.firstGameId;
    m_checkback = m_options.checkback;
}
