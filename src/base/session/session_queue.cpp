// The queue and the match before its game: queue, leave, accept, decline,
// the maps the player can be sent to, the process watcher's pause, and the
// notes shown at ready.
#include "session/session.h"

#include "api/lorvaneapi.h"
#include "maps/mapdownloader.h"
#include "api/matchstate.h"
#include "net/matchrouting.h"
#include "spawn/gamecatalogue.h"

#include <QDebug>

using namespace Zantry;

void Session::cancelFindMatch()
{
    resetRouter();
    m_cancelRequested = true;
    if (m_api)
        m_api->cancelFindMatch();
}

void Session::queueLeft()
{
    m_queueInterrupted = !m_cancelRequested;
    m_cancelRequested = false;
    if (m_leavingToEnd) {
        // Not back to ready: the program is ending.
        emit queueLeftToEnd();
        return;
    }
    if (m_queueInterrupted)
        scheduleRequeue();
    unsetMatchupRequested();
}

void Session::scheduleRequeue()
{
    // The service broke off the queue (no answer, or not its own): the
    // player wanted to play, so the queue is tried again, with growing
    // pauses, a bounded number of times.
    if (m_requeueTries >= kRequeueTries) {
        qDebug() << "Matchmaking was interrupted; not queueing again by itself";
        return;
    }
    const int pause = qMin(m_requeueFirstMs << m_requeueTries, kRequeueMaxMs);
    ++m_requeueTries;
    qDebug().noquote() << QStringLiteral("Matchmaking was interrupted; queueing again in %1 ms").arg(pause);
    m_requeueTimer->start(pause);
}

int Session::requeueIn() const
{
    return m_requeueTimer->isActive() ? m_requeueTimer->remainingTime() : -1;
}

void Session::requeue()
{
    // Only from ready: a player who changed course meanwhile is left alone.
    if (m_state == READY_TO_QUEUE)
        pressMainButton();
}

void Session::leaveQueueToEnd()
{
    m_leavingToEnd = true;
    cancelFindMatch();
}

void Session::keepRunning()
{
    m_leavingToEnd = false;
}

void Session::acceptMatch()
{
    SpawnableGame *game = m_games->current();
    if (!game || !m_routing->beginMatch(game->workingDir, m_match->spawnInfo())) {
        // Without a router or a game there is no match to play; tell the
        // service rather than leave the other player waiting.
        qDebug() << "doMatchup: no router or no game";
        declineMatch();
        return;
    }
    unsetStates(MATCHUP_REQUESTED | MATCHUP_WAITFOR);
    setStates(MATCHUP_FOUND);
}

void Session::declineMatch()
{
    m_api->updateMatchStatus(QStringLiteral("NotReady"));
    cancelFindMatch();
}

void Session::queueAgain()
{
    m_api->findMatch();
}

void Session::stayOut()
{
    m_api->updateMatchStatus(QStringLiteral("NotReady"));
}

void Session::setWantedMaps(const QStringList &hashes)
{
    if (!hashes.isEmpty()) {
        m_mapDownloader->setMaps(hashes);
        return;
    }
    unsetStates(MAP_DLSCAN_STARTED);
    setStates(MAP_DLSCAN_FINISHED);
}

void Session::mapsStateChanged()
{
    switch (m_mapDownloader->state()) {
    case MapDownloader::Matching:
    case MapDownloader::Downloading:
        setMapDLStarted();
        break;
    case MapDownloader::Previews:
    case MapDownloader::Done:
        if (!(m_state & MAP_DLSCAN_STARTED))
            break;
        noteMapFailures();
        setMapDLFinished();
        break;
    default:
        break;
    }
}

void Session::noteMapFailures()
{
    const QHash<QString, QString> failures = m_mapDownloader->failures();
    if (failures.isEmpty()) {
        m_mapsNote.clear();
        return;
    }
    QStringList reasons = failures.values();
    reasons.removeDuplicates();
    m_mapsNote = (failures.size() == 1 ? QStringLiteral("A ladder map could not be downloaded (%1).")
                                       : QStringLiteral("%1 ladder maps could not be downloaded (%2).").arg(failures.size()))
                     .arg(reasons.join(QStringLiteral("; ")));
    emit readyNoteChanged();
}

void Session::noteResult(const QString &note)
{
    m_resultNote = note;
    emit readyNoteChanged();
}

QString Session::readyNote() const
{
    QStringList notes;
    for (const QString &note : {m_resultNote, m_mapsNote, m_settingsNote}) {
        if (!note.isEmpty())
            notes << note;
    }
    return notes.join(QLatin1Char('\n'));
}

void Session::pauseForWatcher()
{
    if (!(m_state & (MATCHUP_REQUESTED | MATCHUP_WAITFOR | MATCHUP_FOUND)) || (m_state & GAME_SPAWNED))
        return;
    setStates(PWATCH_TRIGGERED);
    cancelFindMatch();
    emit paused();
}

void Session::resumeAfterWatcher()
{
    if (!(m_state & PWATCH_TRIGGERED))
        return;
    // Back into the queue as if the main button had been pressed.
    setStates(MAIN_BUTTON_CLICKED);
    unsetStates(PWATCH_TRIGGERED);
    emit newStatesSet();
}

void Session::clearPause()
{
    if (!(m_state & PWATCH_TRIGGERED))
        return;
    unsetStates(PWATCH_TRIGGERED);
    emit newStatesSet();
}

void Session::logOut()
{
    if (!m_api)
        return;
    qDebug() << "Logging out";
    // Everything the account brought goes; the game folder's verdict stays.
    unsetStates(STATE_ALL & ~GAME_NOT_FOUND);
    m_api->logOut();
}
