#pragma once

#include "maps/maphasher.h"

#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QStringList>

// Finds the local file of every wanted map by its SHA-1 digest, downloads
// the missing ones and then their preview images, one request at a time.
// Lives in the GUI thread; progress is reported through state():
// 1 idle, 2 matching local files, 3 downloading, 4 everything done.
class MapDownloader : public QObject
{
    Q_OBJECT
public:
    explicit MapDownloader(QObject *parent = nullptr);

    int state() const { return m_state; }
    void setState(int value);
    // Null when the digest has no known file.
    QString mapFilePath(const QString &hash) const { return m_hashToFile.value(hash); }
    QStringList mapFiles() const { return m_mapFiles; }

    // Longest stretch a scan keeps the event loop waiting before it goes on
    // from the next turn.
    void setScanSlice(int ms) { m_scanSliceMs = ms; }

    static const QStringList &mapDirs();
    // Beside the map file: same folder and name, last extension ".png".
    static QString previewPath(const QString &mapFile);
    // Bodies larger than this are cut off; a map archive is far smaller.
    static constexpr qint64 MaxBodySize = 64 * 1024 * 1024;

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

private:
    void continueScan();
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
    QNetworkReply *get(const QString &url);
    QNetworkReply *takeReply();
    QString currentAbbreviation() const;
    QString downloadFolder() const;

    const QString m_downloadDir = QStringLiteral("Maps/Custom/");
    QStringList m_mapFiles;
    MapHasher m_hasher;
    QStringList m_mapHashes;
    int m_nextMap = 0;
    QStringList m_imgTodoList;
    int m_nextImg = 0;
    QHash<QString, QString> m_hashToFile;
    QNetworkAccessManager m_manager;
    QPointer<QNetworkReply> m_reply;
    int m_state = 1;

    int m_scanSliceMs = 10;
    int m_scanIndex = 0;
    bool m_scanQueued = false;
    // Chain steps posted to the event loop and not yet run; those of a
    // chain that setMaps stopped are dropped when they arrive.
    int m_queuedSteps = 0;
    int m_staleSteps = 0;
};
