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
    // label: under the main button; statsLabel: the service's match and queue counts.
    StatusLine(QLabel *label, QLabel *statsLabel, Session *session, QObject *parent = nullptr);

    // "Last match: Rusted Basin against Bob."
    static QString matchSummary(const SpawnInfo &spawn);
    // The step's own line while a match is on; empty for the other phases.
    static QString stepText(Session::Phase phase);

private:
    void phaseShown(Session::Phase phase, bool clicked);
    void showReady();
    QString readyText() const;
    void showStats();

    QLabel *m_label;
    QLabel *m_statsLabel;
    Session *m_session;
    QString m_lastMatch;
    QTimer *m_tick; // counts down a queue tried again by itself
};
