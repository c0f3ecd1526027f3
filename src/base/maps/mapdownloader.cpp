#include "maps/mapdownloader.h"

#include "util/endpoints.h"
#include "maps/mapextractor.h"
#include "spawn/gamecatalogue.h"
#include "util/filedigest.h"

#include <QDebug>
#include <algorithm>
#include <QDir>
#include <QFileInfo>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>

MapDownloader::MapDownloader(GameCatalogue *games, QObject *parent)
    : QObject(parent)
    , m_games(games)
{
    const GameCatalogue::Table known = games->games();
    for (const SpawnableGame *game : known) {
        QStringList gameFiles;
        for (const QString &mapDir : mapDirs()) {
            const QString dirPath = game->workingDir + mapDir;
            qDebug().noquote() << "Scanning directory:" << dirPath;
            const QDir dir(dirPath);
            const QStringList names = dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
            for (const QString &name : names) {
                // The listing takes links to pipes and devices for files:
                // reading one would hang the scan or never end.
                if (QFileInfo(dir.filePath(name)).isFile())
                    gameFiles.append(dir.filePath(name));
                else
                    qDebug().noquote() << "Skipping a map that is not a regular file:" << dir.filePath(name);
            }
        }
        m_mapFiles += gameFiles;
        m_hasher.addFiles(gameFiles, cacheFor(game->workingDir));
    }
    connect(this, &MapDownloader::todoMapsAdded, this, &MapDownloader::scanMaps);
    connect(this, &MapDownloader::signalDownload, this, &MapDownloader::onMapStep, Qt::QueuedConnection);
    connect(this, &MapDownloader::signalImgDownload, this, &MapDownloader::onImgStep, Qt::QueuedConnection);
}

MapDownloader::~MapDownloader()
{
    // A scan cut short by the end of the program keeps what it hashed.
    saveCaches();
}

MapDigestCache *MapDownloader::cacheFor(const QString &gameDir)
{
    const QString folder = QDir(gameDir).absolutePath();
    for (const auto &cache : m_caches) {
        if (cache->folder() == folder)
            return cache.get();
    }
    m_caches.push_back(std::make_unique<MapDigestCache>(gameDir));
    return m_caches.back().get();
}

void MapDownloader::saveCaches()
{
    for (const auto &cache : m_caches)
        cache->save();
}

const QStringList &MapDownloader::mapDirs()
{
    static const QStringList dirs = {
        QStringLiteral("Maps/Standards/"),
        QStringLiteral("Maps/Firestorm/"),
        QStringLiteral("Maps/Yuri's Revenge/"),
        QStringLiteral("Maps/Custom/"),
        QStringLiteral("Maps/Favorites/"),
        QStringLiteral("Maps/Counterstrike"),
        QStringLiteral("Maps/Aftermath"),
    };
    return dirs;
}

QString MapDownloader::previewPath(const QString &mapFile)
{
    const QFileInfo info(mapFile);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".png");
}

void MapDownloader::setState(State value)
{
    if (value == m_state)
        return;
    m_state = value;
    emit stateChanged();
}

void MapDownloader::setMaps(const QStringList &mapHashes)
{
    m_mapHashes = mapHashes;
    m_nextMap = 0;
    m_failures.clear();
    emit todoMapsAdded();
}

void MapDownloader::scanMaps()
{
    // Every handler assumes m_reply is the one request in flight, so a new
    // list stops the running chain before its own starts.
    stopChain();
    setState(Matching);
    m_scanIndex = m_nextMap;
    if (!m_scanQueued)
        continueScan();
}

void MapDownloader::continueScan()
{
    m_scanQueued = false;
    const QDeadlineTimer deadline(m_scanSliceMs);
    bool progressed = false;
    while (m_scanIndex < m_mapHashes.size()) {
        if (m_hashToFile.contains(m_mapHashes.at(m_scanIndex)) || m_hasher.atEnd()) {
            ++m_scanIndex;
            continue;
        }
        // At least one file per turn, however short the slice.
        if ((progressed && deadline.hasExpired()) || !m_hasher.hashNext(deadline)) {
            m_scanQueued = true;
            QTimer::singleShot(0, this, &MapDownloader::continueScan);
            return;
        }
        progressed = true;
        m_hashToFile.insert(m_hasher.digest(), m_hasher.path());
        if (m_hasher.fromCache())
            ++m_cachedInPass;
        else
            qDebug().noquote() << QStringLiteral("File: ") + m_hasher.path() + QStringLiteral(" Hashed to ")
                    + m_hasher.digest();
    }
    // One line, not one per file: a large folder would fill the log at every start.
    if (m_cachedInPass > 0)
        qDebug().noquote() << QStringLiteral("Map digests from the cache: %1 files").arg(m_cachedInPass);
    m_cachedInPass = 0;
    // Once per pass: only what this pass hashed is new.
    saveCaches();
    m_nextMap = 0;
    m_fetchDone = 0;
    m_fetchTotal = int(std::count_if(m_mapHashes.cbegin(), m_mapHashes.cend(),
                                     [this](const QString &digest) { return !m_hashToFile.contains(digest); }));
    setState(Downloading);
    queueMapStep();
}

void MapDownloader::queueMapStep()
{
    ++m_queuedSteps;
    emit signalDownload();
}

void MapDownloader::queueImgStep()
{
    ++m_queuedSteps;
    emit signalImgDownload();
}

bool MapDownloader::takeStep()
{
    if (m_queuedSteps > 0)
        --m_queuedSteps;
    if (m_staleSteps == 0)
        return true;
    --m_staleSteps;
    return false;
}

void MapDownloader::onMapStep()
{
    if (takeStep())
        downloadNextMap();
}

void MapDownloader::onImgStep()
{
    if (takeStep())
        downloadNextImg();
}

void MapDownloader::stopChain()
{
    // Steps already posted run before any the new chain posts; drop them.
    m_staleSteps = m_queuedSteps;
    if (QNetworkReply *reply = takeReply()) {
        qDebug() << "Stopping the running map download for the new map list";
        reply->abort();
        reply->deleteLater();
    }
}

QNetworkReply *MapDownloader::takeReply()
{
    QNetworkReply *reply = m_reply;
    if (reply)
        disconnect(reply, nullptr, this, nullptr);
    m_reply = nullptr;
    return reply;
}

QNetworkReply *MapDownloader::get(const QString &url, int timeoutMs)
{
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = m_manager.get(request);
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > MaxBodySize)
            reply->abort();
    });
    m_reply = reply;
    return reply;
}

QString MapDownloader::currentAbbreviation() const
{
    const SpawnableGame *game = m_games->current();
    return game ? game->abbreviation : QString();
}

QString MapDownloader::downloadFolder() const
{
    const SpawnableGame *game = m_games->current();
    return (game ? game->workingDir : QString()) + m_downloadDir;
}

void MapDownloader::downloadNextMap()
{
    while (m_nextMap < m_mapHashes.size() && m_hashToFile.contains(m_mapHashes.at(m_nextMap)))
        ++m_nextMap;
    if (m_nextMap < m_mapHashes.size()) {
        const QString digest = m_mapHashes.at(m_nextMap);
        qDebug().noquote() << QStringLiteral("Downloading map: ") + digest;
        ++m_fetchDone;
        emit progressChanged();
        QNetworkReply *reply = get(Endpoints::instance().mapArchiveUrl(currentAbbreviation(), digest), m_mapTimeoutMs);
        connect(reply, &QNetworkReply::finished, this, &MapDownloader::saveDownloadedMap);
        connect(reply, &QNetworkReply::errorOccurred, this, &MapDownloader::handleError);
        return;
    }
    collectMissingPreviews();
    startImgPass();
}

QString MapDownloader::progressText() const
{
    if (m_state != Downloading || m_fetchDone == 0)
        return QString();
    return m_fetchTotal > 1 ? QStringLiteral("Downloading map %1 of %2").arg(m_fetchDone).arg(m_fetchTotal)
                            : QStringLiteral("Downloading a map");
}

void MapDownloader::collectMissingPreviews()
{
    m_nextMap = 0;
    while (m_nextMap < m_mapHashes.size() && m_hashToFile.contains(m_mapHashes.at(m_nextMap))) {
        const QString digest = m_mapHashes.at(m_nextMap);
        qDebug().noquote() << QStringLiteral("Map is ") + digest;
        const QString preview = previewPath(m_hashToFile.value(digest));
        if (!QFileInfo::exists(preview)) {
            qDebug().noquote() << QStringLiteral("1 Adding image ") + preview + QStringLiteral(" to imgTodoList");
            // Listed once: each pass fetches the whole list again anyway.
            if (!m_imgTodoList.contains(digest))
                m_imgTodoList.append(digest);
        }
        ++m_nextMap;
    }
}

void MapDownloader::saveDownloadedMap()
{
    QNetworkReply *reply = takeReply();
    if (!reply)
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString digest = m_mapHashes.value(m_nextMap);
    const QString problem = status == 200 && reply->error() == QNetworkReply::NoError
                                ? storeMap(digest, reply->readAll())
                                : QStringLiteral("the map database answered HTTP %1").arg(status);
    if (!problem.isEmpty())
        failMap(digest, problem);
    reply->deleteLater();
    ++m_nextMap;
    queueMapStep();
}

QString MapDownloader::storeMap(const QString &digest, const QByteArray &body)
{
    const QString folder = downloadFolder();
    MapExtractor archive(body);
    if (archive.entryNames().isEmpty()) {
        qDebug().noquote() << QStringLiteral("Map archive has no readable entry: ") + digest;
        return QStringLiteral("the answer is not a map archive");
    }
    const QString first = MapExtractor::safeRelativePath(archive.firstEntry());
    qDebug().noquote() << "Saving file:" << folder + (first.isNull() ? archive.firstEntry() : first);
    // The map database may be reached over plain HTTP: only the map that
    // was asked for is kept.
    const QString held = FileDigest::sha1HexOfBytes(archive.firstEntryData());
    if (held.compare(digest, Qt::CaseInsensitive) != 0) {
        qDebug().noquote() << QStringLiteral("Map archive does not hold the map asked for: %1 (its map is %2)")
                                  .arg(digest, held);
        return QStringLiteral("the archive holds a different map");
    }
    if (!archive.extractAll(folder)) {
        qDebug().noquote() << QStringLiteral("Map archive did not yield its map file: ") + digest;
        return QStringLiteral("it could not be saved in %1").arg(QDir::toNativeSeparators(folder));
    }
    m_hashToFile.insert(digest, folder + first);
    return QString();
}

void MapDownloader::failMap(const QString &digest, const QString &reason)
{
    qDebug().noquote() << QStringLiteral("Map not available: %1: %2").arg(digest, reason);
    m_failures.insert(digest, reason);
}

QString MapDownloader::failureReason(const QNetworkReply *reply)
{
    // A transfer time-out is the only cancel that reaches an error handler.
    if (reply->error() == QNetworkReply::OperationCanceledError)
        return QStringLiteral("no answer within %1 s").arg((reply->request().transferTimeout() + 999) / 1000);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        return QStringLiteral("the map database answered HTTP %1").arg(status.toInt());
    return reply->errorString();
}

void MapDownloader::handleError(QNetworkReply::NetworkError)
{
    QNetworkReply *reply = takeReply();
    if (!reply)
        return;
    qDebug().noquote() << QStringLiteral("Unable to download the map: ") + m_mapHashes.value(m_nextMap)
                       << reply->request().url().toString();
    failMap(m_mapHashes.value(m_nextMap), failureReason(reply));
    reply->deleteLater();
    ++m_nextMap;
    if (m_nextMap < m_mapHashes.size()) {
        queueMapStep();
    } else {
        // The preview collection of downloadNextMap is skipped on this path.
        startImgPass();
    }
}

void MapDownloader::startImgPass()
{
    m_nextImg = 0;
    setState(m_imgTodoList.isEmpty() ? Done : Previews);
    queueImgStep();
}

void MapDownloader::nextImg()
{
    ++m_nextImg;
    if (m_nextImg < m_imgTodoList.size())
        queueImgStep();
    else
        setState(Done);
}

void MapDownloader::startImgDownload()
{
    m_nextImg = 0;
    downloadNextImg();
}

void MapDownloader::downloadNextImg()
{
    qDebug() << "Starting download";
    if (m_nextImg >= m_imgTodoList.size()) {
        setState(Done);
        return;
    }
    const QString url = Endpoints::instance().mapPreviewUrl(currentAbbreviation(), m_imgTodoList.at(m_nextImg));
    qDebug().noquote() << QStringLiteral("Downloading img: ") + url;
    QNetworkReply *reply = get(url, m_previewTimeoutMs);
    connect(reply, &QNetworkReply::finished, this, &MapDownloader::saveDownloadedImg);
    connect(reply, &QNetworkReply::errorOccurred, this, &MapDownloader::handleImgError);
}

void MapDownloader::saveDownloadedImg()
{
    QNetworkReply *reply = takeReply();
    if (!reply)
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString mapFile = m_hashToFile.value(m_imgTodoList.value(m_nextImg));
    if (status == 200 && reply->error() == QNetworkReply::NoError && !mapFile.isEmpty()) {
        const QString path = previewPath(mapFile);
        qDebug().noquote() << QStringLiteral("Saving image: ") + path;
        // QSaveFile would write through a link at that name.
        QSaveFile file(path);
        if (QFileInfo(path).isSymLink() || !file.open(QIODevice::WriteOnly) || file.write(reply->readAll()) < 0
            || !file.commit())
            qDebug().noquote() << QStringLiteral("Cannot write image: ") + path;
        else
            emit previewSaved(m_imgTodoList.value(m_nextImg));
    }
    reply->deleteLater();
    nextImg();
}

void MapDownloader::handleImgError(QNetworkReply::NetworkError)
{
    QNetworkReply *reply = takeReply();
    if (!reply)
        return;
    qDebug().noquote() << QStringLiteral("Unable to download the image: ") + m_imgTodoList.value(m_nextImg);
    reply->deleteLater();
    nextImg();
}
