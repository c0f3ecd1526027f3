#pragma once

#include "api/ladder.h"
#include "api/player.h"
#include "api/servicefault.h"
#include "net/tunnelserverinfo.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class GameCatalogue;
class MatchState;
class NetworkState;
class QNetworkReply;
class PeerRouteSource;

// The only client of the ladder web service: authentication, the ladder,
// account and map lists, statistics, the find-match exchange and the result
// upload. GUI thread only; one request in flight per operation.
class LorvaneAPI : public QObject
{
    Q_OBJECT
public:
    // Reads our addresses from network and the current game from games,
    // writes the match's spawn information and figures to match; all three
    // outlive the client.
    LorvaneAPI(NetworkState *network, MatchState *match, GameCatalogue *games, QObject *parent = nullptr);
    ~LorvaneAPI() override;

    // The settings entries this client keeps; the window and the crash
    // handler read and clear the same ones.

    QString accountName() const { return m_accountName; }
    Player *currentPlayer() const { return m_currentPlayer; }
    QMap<int, Player *> players() const { return m_players; }
    QMap<int, Ladder *> ladders() const { return m_ladders; }
    // What the last failed login or refresh ran into.
    ServiceFault fault() const { return m_fault; }
    // Milliseconds until the stored login is tried again by itself; -1 when
    // no attempt is due.
    int reconnectIn() const;
    // Every request to the service ends after this much silence (ms).
    void setTransferTimeout(int ms) { m_transferTimeoutMs = ms; }
    // The router's forwarding table, told to the service once every peer is
    // reached; null until the router is there.
    void setPeerRoutes(const PeerRouteSource *routes) { m_peerRoutes = routes; }

signals:
    void apiFailed();
    void apiFatal(QString message);
    void authenticationRequired();
    void authenticationFailed();
    void authenticationSuccess();
    void playersChanged();
    void laddersChanged();
    void currentPlayerChanged();
    void currentPlayerMapsChanged();
    void waitForMatchup();
    void matchupFound();
    void cancelledFindMatch();
    // The service took a game result.
    void gameStatsPosted();
    // It did not; kept: the result waits in the game folder's outbox and is
    // sent again.
    void resultUploadFailed(bool kept);

public slots:
    void login();
    // Forgets the login, the stored one too, and asks for a new one; the
    // account name stays for the form.
    void logOut();
    void fetchPlayers();
    void fetchLadders();
    void fetchMaps();
    void fetchZantryStats();
    void setURL(QString URL);
    void setAccountName(QString accountName);
    void setPassword(QString password);
    void setPlayers(QMap<int, Player *> players);
    void setCurrentPlayer(int id);
    void findMatch();
    void cancelFindMatch();
    void updateMatchStatus(QString status);
    void postGameStats(QString fileName, uint gameID, int pingSent, int pingReceived);
    // Before a game starts: its result, should this client not see the game
    // end, is uploaded by the next run (with ping counts of 0).
    void expectResult(const QString &gameDir, uint gameID);
    // The game ended without a result: nothing to wait for.
    void noResult(const QString &gameDir);
    // Uploads the results kept in the game folder's outbox.
    void resumeResults(const QString &gameDir);
    void setTunnelServers(QList<TunnelServerInfo *> tunnelServers);

private slots:
    // Takes the accessibility as int: Qt 5.15 deprecates the enum itself.
    void slotNetworkAccessChanged(int access);
    void slotAuthRequestFinished();
    void slotFetchPlayersFinished();
    void slotFetchLaddersFinished();
    void slotFetchMapsFinished();
    void slotFetchZantryStatsFinished();
    void slotFindMatchFinished();
    void slotCancelMatchFinished();
    void slotUpdateMatchFinished();
    void refreshToken();
    void slotRefreshToken();
    void printReply();

private:
    QNetworkRequest makeRequest(const QString &url) const;
    QNetworkReply *get(const QString &path, void (LorvaneAPI::*handler)());
    QNetworkReply *post(const QString &path, const QString &contentType, const QByteArray &body,
                        void (LorvaneAPI::*handler)());
    QNetworkReply *postJson(const QString &path, const QJsonObject &body, void (LorvaneAPI::*handler)());
    // The reply that sent finished(), or null.
    QNetworkReply *senderReply() const;
    // Reads the body, closes the reply and schedules it for deletion.
    static QByteArray takeBody(QNetworkReply *reply);
    // The object with its credentials ("token", "session") hidden.
    static QJsonObject forLog(QJsonObject object);
    // Whether the reply says it is JSON, parameters such as a charset aside.
    static bool isJson(const QNetworkReply *reply);
    // Guard of the exchange's requests; logs "player or ladder not set".
    bool haveMatchPlayer() const;
    QString matchPath() const;
    QJsonObject findMatchRequest() const;
    QString resultPath(uint gameID, int pingSent, int pingReceived) const;
    void resumeCurrentGameResults();
    void uploadKept();
    // keptFile: the outbox entry the upload is of, empty for none.
    void uploadResult(const QString &path, const QString &fileName, const QString &keptFile);
    void sendFindMatch();
    void sendQuit();
    QJsonObject updateRequest(const QString &status) const;
    void storeToken(const QString &token);
    void onAuthenticated();
    // The service could not be used before any login succeeded.
    void startFailed(const ServiceFault &fault);
    // A broken find-match answer: back to idle, and tell the session flow.
    void abandonFindMatch(const QByteArray &body);

    NetworkState *const m_network;
    MatchState *const m_match;
    GameCatalogue *const m_games;
    const PeerRouteSource *m_peerRoutes = nullptr;
    QString m_token;
    QString m_session;
    QString m_url;
    const QString m_loginPath;
    const QString m_refreshPath;
    const QString m_accountPath;
    const QString m_resultShortPath;
    const QString m_resultPath;
    const QString m_laddersPath;
    const QString m_mapsPath;
    const QString m_matchPath;
    const QString m_statsPath;
    QString m_accountName;
    QString m_password;
    QString m_userName;
    QMap<int, Player *> m_players;
    QMap<int, Ladder *> m_ladders;
    QNetworkAccessManager m_manager;
    QPointer<QNetworkReply> m_statsReply;
    Player *m_currentPlayer = nullptr;
    QTimer *m_findMatchTimer;
    // Holds the first find-match request of a queue until the tunnel servers
    // have told the public address: without it the opponents get only
    // addresses they cannot reach.
    QTimer *m_addressWait;
    QTimer *m_statsTimer;
    QTimer *m_refreshTimer;
    QTimer *m_resultRetryTimer;
    // Tries the stored login again while the service cannot be reached at
    // start, with a growing pause.
    QTimer *m_reconnectTimer;
    int m_reconnects = 0;
    int m_transferTimeoutMs = 30000;
    ServiceFault m_fault;
    QString m_outboxDir;
    int m_retries = 0;
    int m_refreshInterval = 43200000;
    QList<TunnelServerInfo *> m_tunnelServers;
    // Whether any login or refresh succeeded in this run: a later refresh
    // that finds no service then leaves the working session alone.
    bool m_authenticated = false;
    // Set from sending "match me up" until "spawn", "fatal" or a broken answer,
    // so a late broken answer cannot cancel a match already formed.
    bool m_matchPending = false;
    // The find-match request on its way, and whether a quit waits for it.
    QPointer<QNetworkReply> m_findReply;
    bool m_quitAfterAnswer = false;
};
