#pragma once

#include "session/session.h"

#include <QObject>
#include <QString>

class QLabel;
class QTimer;
struct SpawnInfo;

// The line under the main button: what the session is doing at each step
// of the road, and at ready what the player should know (the last match,
// its result, maps or settings that failed, a queue the service broke off).
class StatusLine : public QObject
{
    Q_OBJECT
public:
    StatusLine(QLabel *label, Session *session, QObject *parent = nullptr);

    // "Last match: Rusted Basin against Bob."
    static QString matchSummary(const SpawnInfo &spawn);
    // The step's own line while a match is on; empty for the other phases.
    static QString stepText(Session::Phase phase);

private:
    void phaseShown(Session::Phase phase, bool clicked);
    void showReady();
    QString readyText() const;

    QLabel *m_label;
    Session *m_session;
    QString m_lastMatch;
    QTimer *m_tick; // counts down a queue tried again by itself
};
