#pragma once

#include "maps/mapdigestcache.h"
#include "maps/maphasher.h"

#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <vector>

class GameCatalogue;

// Finds the local file of every wanted map by its SHA-1 digest, downloads
// the missing ones and then their preview images, one request at a time.
// Lives in the GUI thread; progress is reported through state().
class MapDownloader : public QObject
{
    Q_OBJECT
public:
    // The numbers other parts of the program know; Previews (the maps settled, their
    // preview images still coming) is this client's own: nothing waits for
    // pictures.
    enum State { Idle = 1, Matching = 2, Downloading = 3, Done = 4, Previews = 5 };
    Q_ENUM(State)

    // Scans the map folders of every game in games, which outlives this;
    // downloads go to the current game's folder.
    explicit MapDownloader(GameCatalogue *games, QObject *parent = nullptr);
    ~MapDownloader() override;

    State state() const { return m_state; }
    void setState(State value);
    // Null when the digest has no known file.
    QString mapFilePath(const QString &hash) const { return m_hashToFile.value(hash); }
    QStringList mapFiles() const { return m_mapFiles; }
    // The wanted maps this pass could not get, by digest, with the reason.
    QHash<QString, QString> failures() const { return m_failures; }
    // "Downloading map 2 of 3", while maps are fetched.
    QString progressText() const;
    // True once the maps are settled (Previews or Done).
    bool mapsSettled() const { return m_state == Previews || m_state == Done; }

    // Longest stretch a scan keeps the event loop waiting before it goes on
    // from the next turn.
    void setScanSlice(int ms) { m_scanSliceMs = ms; }

    static const QStringList &mapDirs();
    // Beside the map file: same folder and name, last extension ".png".
    static QString previewPath(const QString &mapFile);
    // Bodies larger than this are cut off; a map archive is far smaller.
    static constexpr qint64 MaxBodySize = 64 * 1024 * 1024;
    // A transfer that stays silent this long (ms) is given up.
    void setTimeouts(int mapMs, int previewMs)
    {
        m_mapTimeoutMs = mapMs;
        m_previewTimeoutMs = previewMs;
    }

public slots:
    void setMaps(const QStringList &mapHashes);
    void scanMaps();
    void downloadNextMap();
    void saveDownloadedMap();
    void handleError(QNetworkReply::NetworkError code);
    void startImgDownload();
    void downloadNextImg();
    void saveDownloadedImg();
    void handleImgError(QNetworkReply::NetworkError code);

signals:
    void todoMapsAdded();
    void signalDownload();
    void signalImgDownload();
    void stateChanged();
    void progressChanged();
    // A preview image was written beside the map of this digest.
    void previewSaved(const QString &digest);

private:
    GameCatalogue *const m_games;
    void continueScan();
    MapDigestCache *cacheFor(const QString &gameDir);
    void saveCaches();
    void queueMapStep();
    void queueImgStep();
    void onMapStep();
    void onImgStep();
    // Counts a posted step off; false for a step of a chain already stopped.
    bool takeStep();
    void stopChain();
    void collectMissingPreviews();
    // Posts the image pass from the first entry of the list.
    void startImgPass();
    // After an image reply: the next image, or the end of the chain.
    void nextImg();
    QNetworkReply *get(const QString &url, int timeoutMs);
    // Verifies and unpacks a fetched archive; the reason when it is not kept.
    QString storeMap(const QString &digest, const QByteArray &body);
    void failMap(const QString &digest, const QString &reason);
    static QString failureReason(const QNetworkReply *reply);
    QNetworkReply *takeReply();
    QString currentAbbreviation() const;
    QString downloadFolder() const;

    const QString m_downloadDir = QStringLiteral("Maps/Custom/");
    QStringList m_mapFiles;
    // One per game folder, shared by the games that live in it.
    std::vector<std::unique_ptr<MapDigestCache>> m_caches;
    MapHasher m_hasher;
    QStringList m_mapHashes;
    int m_nextMap = 0;
    QHash<QString, QString> m_failures;
    int m_fetchTotal = 0;
    int m_fetchDone = 0;
    QStringList m_imgTodoList;
    int m_nextImg = 0;
    QHash<QString, QString> m_hashToFile;
    QNetworkAccessManager m_manager;
    QPointer<QNetworkReply> m_reply;
    State m_state = Idle;

    int m_scanSliceMs = 10;
    int m_mapTimeoutMs = 30000;
    int m_previewTimeoutMs = 15000;
    int m_scanIndex = 0;
    bool m_scanQueued = false;
    int m_cachedInPass = 0;
    // Chain steps posted to the event loop and not yet run; those of a
    // chain that setMaps stopped are dropped when they arrive.
    int m_queuedSteps = 0;
    int m_staleSteps = 0;
};
