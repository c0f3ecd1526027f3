#pragma once

#include "botoptions.h"

#include <QObject>
#include <QString>

class BotGame;
class InternetDetector;
class LorvaneAPI;
class LorvaneNetwork;
class MapDownloader;
class MatchRouting;
class SpawnableGame;

// The session of the window without the window: the same service client,
// network object, router road, map downloader and crash upload, answered
// by a fixed policy (take the first account on the ladder, accept every
// match, leave after the last one).
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
    void wireNetwork();
    void wireRouting();
    void loginNeeded();
    void choosePlayer();
    void mapsListed();
    void mapsStateChanged();
    void queueWhenReady();
    void matchFound();
    void launchGame();
    void gameFinished(bool crashed);
    void resultPosted();

    BotOptions m_options;
    SpawnableGame *m_game = nullptr;
    LorvaneAPI *m_api = nullptr;
    LorvaneNetwork *m_network = nullptr;
    MapDownloader *m_maps = nullptr;
    MatchRouting *m_routing = nullptr;
    InternetDetector *m_detector = nullptr;
    BotGame *m_run = nullptr;
    bool m_loginSent = false;
    bool m_networkUp = false;
    bool m_tunnelsKnown = false;
    bool m_mapsReady = false;
    bool m_inMatch = false;
    bool m_queued = false;
    bool m_finished = false;
    bool m_stopping = false;
    int m_played = 0;
};
