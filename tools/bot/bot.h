#pragma once

#include "botoptions.h"
#include "session/session.h"

#include <QObject>
#include <QString>

// A windowless player: drives the client's own session with a fixed policy
// (take the first account on the ladder, accept every match, leave after
// the last one) and prints its progress for the tests and the demo.
class Bot : public QObject
{
    Q_OBJECT
public:
    explicit Bot(const BotOptions &options, QObject *parent = nullptr);
    ~Bot() override;

    void start();
    // SIGTERM: leave the queue (bounded wait), stop the game, exit 0.
    void stop();

signals:
    void finished(int exitCode);

private:
    void step(const QString &name);
    void fail(const QString &message);
    void finish(int exitCode);
    void wireService();
    void loginNeeded();
    void choosePlayer();
    void mapsListed();
    void phaseShown(Session::Phase phase);
    void queueWhenReady();
    void matchFound();
    void gameEnded(bool resultSent);
    void resultPosted();

    BotOptions m_options;
    Session *m_session = nullptr;
    Session::Phase m_phase = Session::Phase::Starting;
    bool m_loginSent = false;
    bool m_tunnelsKnown = false;
    bool m_inMatch = false;
    bool m_resultPending = false;
    bool m_finished = false;
    bool m_stopping = false;
    int m_played = 0;
};
