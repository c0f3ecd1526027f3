#include "ui/statusline.h"

#include "api/matchstate.h"
#include "net/spawninfo.h"
#include "api/matchstate.h"

#include <QJsonObject>
#include <QLabel>
#include <QTimer>

using Phase = Session::Phase;

StatusLine::StatusLine(QLabel *label, QLabel *statsLabel, Session *session, QObject *parent)
    : QObject(parent), m_label(label), m_statsLabel(statsLabel), m_session(session), m_tick(new QTimer(this))
{
    connect(session->match(), &MatchState::zantryStatsChanged, this, &StatusLine::showStats);
    // Two short lines fit under the button; a longer note wraps there
    // instead of widening the column and moving the boxes beside it.
    m_label->setWordWrap(true);
    m_label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    m_tick->setInterval(1000);
    connect(m_tick, &QTimer::timeout, this, &StatusLine::showReady);
    connect(session, &Session::phaseShown, this, &StatusLine::phaseShown);
    connect(session, &Session::readyNoteChanged, this, [this]() {
        if (m_session->state() == Zantry::READY_TO_QUEUE)
            showReady();
    });
    connect(session, &Session::gameEnded, this,
            [this]() { m_lastMatch = matchSummary(m_session->match()->spawnInfo()); });
}

QString StatusLine::matchSummary(const SpawnInfo &spawn)
{
    QStringList names;
    for (const QJsonObject &other : spawn.others) {
        const QString name = other.value(QLatin1String("Name")).toString();
        if (!name.isEmpty())
            names << name;
    }
    if (names.isEmpty())
        return tr("Last match: %1.").arg(spawn.uiMapName);
    return tr("Last match: %1 against %2.").arg(spawn.uiMapName, names.join(QStringLiteral(", ")));
}

QString StatusLine::stepText(Phase phase)
{
    switch (phase) {
    case Phase::Queued: return QStringLiteral("Searching for a matchup...");
    case Phase::Paused: return QStringLiteral("Paused by Process Watcher");
    case Phase::Connecting: return QStringLiteral("Starting Network Connection.") + tr("\nFinding a path to each player…");
    case Phase::Measuring:
        return QStringLiteral("Network Connection Established.") + tr("\nMeasuring the connection to each player…");
    case Phase::Launching: return QStringLiteral("STARTING GAME!!!");
    case Phase::InGame: return QStringLiteral("Game In Progress");
    case Phase::GameOver: return tr("Game finished.\nUploading the result…");
    default: return QString();
    }
}

void StatusLine::phaseShown(Phase phase, bool clicked)
{
    if (phase == Phase::Ready) {
        if (clicked)
            m_lastMatch.clear(); // a new queue: the last match is history
        showReady();
        return;
    }
    m_tick->stop();
    const QString step = stepText(phase);
    if (!step.isEmpty())
        m_label->setText(step);
}

void StatusLine::showReady()
{
    if (m_session->phase() != Phase::Ready) {
        m_tick->stop();
        return;
    }
    m_label->setText(readyText());
    if (m_session->requeueIn() >= 0)
        m_tick->start();
    else
        m_tick->stop();
}

QString StatusLine::readyText() const
{
    if (m_session->queueInterrupted()) {
        const int wait = m_session->requeueIn();
        if (wait < 0)
            return QStringLiteral("Matchmaking was interrupted. Please queue again.");
        return tr("Matchmaking was interrupted: the ladder service did not answer.\nQueueing again in %1 s.")
            .arg((wait + 999) / 1000);
    }
    QStringList lines;
    for (const QString &line : {m_lastMatch, m_session->readyNote()}) {
        if (!line.isEmpty())
            lines << line;
    }
    return lines.isEmpty() ? QStringLiteral("Zantry") : lines.join(QLatin1Char('\n'));
}

void StatusLine::showStats()
{
    const MatchState::Stats stats = m_session->match()->zantryStats();
    const QString matches = stats.contains(QStringLiteral("recentMatches"))
                                ? QStringLiteral("Matches: %1").arg(stats.value(QStringLiteral("recentMatches")).toString())
                                : QString();
    const QString queued = stats.contains(QStringLiteral("queuedPlayers"))
                               ? QStringLiteral("Queued: %1").arg(stats.value(QStringLiteral("queuedPlayers")).toString())
                               : QString();
    m_statsLabel->setText(matches + QStringLiteral("   ") + queued);
}
