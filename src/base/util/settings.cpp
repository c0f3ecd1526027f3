#include "util/settings.h"

#include <QDebug>
#include <QDir>
#include <QJsonDocument>
#include <QSettings>

#include <limits>

namespace {

// Every key the program stores, its default and its range. The names are
// those earlier versions wrote; renaming one loses the players' values.
const QString kAccessToken = QStringLiteral("accessToken");
const QString kAccountName = QStringLiteral("accountName");
const QString kGameFolder = QStringLiteral("gameFolder");
const QString kWinePrefix = QStringLiteral("winePrefix");
const QString kWineProgram = QStringLiteral("wineProgram");
const QString kDefaultWineProgram = QStringLiteral("wine");
const QString kAllowP2P = QStringLiteral("AllowP2P");
constexpr bool kDefaultAllowP2P = true;
const QString kMapPortOnRouter = QStringLiteral("MapPortOnRouter");
constexpr bool kDefaultMapPortOnRouter = true;
const QString kProcessWatcherEnabled = QStringLiteral("ProcessWatcherEnabled");
constexpr bool kDefaultProcessWatcherEnabled = true;
const QString kWatchedProcesses = QStringLiteral("WatchedProcesses");
const QString kVolume = QStringLiteral("ZantryVolume");
const QString kMainWindowGeometry = QStringLiteral("mainWindowGeometry");
const QString kMainWindowState = QStringLiteral("mainWindowState");
const QString kPasswordEntryGeometry = QStringLiteral("passwordEntryGeometry");
const QString kSpawnableGames = QStringLiteral("SpawnableGames/");

struct IntRange
{
    int fallback;
    int min;
    int max;
};
constexpr IntRange kVolumeRange{75, 0, 100};
constexpr IntRange kId{-1, 0, std::numeric_limits<int>::max()};

QString lastPlayerKey(const QString &game)
{
    return game + QStringLiteral("/lastPlayer");
}

QString sideKey(int playerId)
{
    return QStringLiteral("Player%1/Side").arg(playerId);
}

QString mapSidesKey(const QString &sideName, int playerId)
{
    return sideName + QString::number(playerId);
}

void reject(const QString &key, const QVariant &stored, const QString &fallback)
{
    const QString text = stored.userType() == QMetaType::QStringList ? stored.toStringList().join(QLatin1Char(','))
                                                                      : stored.toString();
    qDebug().noquote() << QStringLiteral("Setting %1: stored value \"%2\" is not usable; using %3")
                              .arg(key, text.left(80), fallback);
}

// An INI file reads "a,b" as a list; these values are text.
QString readText(const QString &key, const QString &fallback = QString())
{
    const QVariant value = QSettings().value(key, fallback);
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

int readInt(const QString &key, const IntRange &range)
{
    const QVariant stored = QSettings().value(key);
    if (!stored.isValid())
        return range.fallback;
    bool ok = false;
    const int value = stored.toInt(&ok);
    if (ok && value >= range.min && value <= range.max)
        return value;
    reject(key, stored, QString::number(range.fallback));
    return range.fallback;
}

bool readBool(const QString &key, bool fallback)
{
    const QVariant stored = QSettings().value(key);
    if (!stored.isValid())
        return fallback;
    if (stored.userType() == QMetaType::Bool)
        return stored.toBool();
    const QString text = stored.toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    reject(key, stored, fallback ? QStringLiteral("true") : QStringLiteral("false"));
    return fallback;
}

template<typename T>
void writeChanged(const QString &key, const T &value, const T &current)
{
    if (value != current)
        QSettings().setValue(key, value);
}

} // namespace

void Settings::useFolder(const QString &dir)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
}

void Settings::clear()
{
    QSettings().clear();
}

QString Settings::accessToken()
{
    return readText(kAccessToken);
}

void Settings::setAccessToken(const QString &token)
{
    writeChanged(kAccessToken, token, accessToken());
}

void Settings::removeAccessToken()
{
    QSettings().remove(kAccessToken);
}

QString Settings::accountName()
{
    return readText(kAccountName);
}

void Settings::setAccountName(const QString &name)
{
    writeChanged(kAccountName, name, accountName());
}

QString Settings::gameFolder()
{
    return readText(kGameFolder);
}

void Settings::setGameFolder(const QString &dir)
{
    writeChanged(kGameFolder, dir, gameFolder());
}

QString Settings::winePrefix()
{
    return readText(kWinePrefix);
}

void Settings::setWinePrefix(const QString &prefix)
{
    writeChanged(kWinePrefix, prefix, winePrefix());
}

QString Settings::wineProgram()
{
    const QString program = readText(kWineProgram, kDefaultWineProgram);
    if (!program.trimmed().isEmpty())
        return program;
    reject(kWineProgram, program, kDefaultWineProgram);
    return kDefaultWineProgram;
}

bool Settings::allowP2P()
{
    return readBool(kAllowP2P, kDefaultAllowP2P);
}

void Settings::setAllowP2P(bool allow)
{
    writeChanged(kAllowP2P, allow, allowP2P());
}

bool Settings::mapPortOnRouter()
{
    return readBool(kMapPortOnRouter, kDefaultMapPortOnRouter);
}

void Settings::setMapPortOnRouter(bool map)
{
    writeChanged(kMapPortOnRouter, map, mapPortOnRouter());
}

bool Settings::processWatcherEnabled()
{
    return readBool(kProcessWatcherEnabled, kDefaultProcessWatcherEnabled);
}

void Settings::setProcessWatcherEnabled(bool enabled)
{
    writeChanged(kProcessWatcherEnabled, enabled, processWatcherEnabled());
}

QStringList Settings::watchedProcesses()
{
    return QSettings().value(kWatchedProcesses).toStringList();
}

void Settings::setWatchedProcesses(const QStringList &names)
{
    writeChanged(kWatchedProcesses, names, watchedProcesses());
}

int Settings::volume()
{
    return readInt(kVolume, kVolumeRange);
}

void Settings::setVolume(int value)
{
    if (value < kVolumeRange.min || value > kVolumeRange.max) {
        qDebug() << "Setting ZantryVolume: ignored" << value;
        return;
    }
    writeChanged(kVolume, value, volume());
}

std::optional<Settings::Placement> Settings::placement()
{
    const QSettings settings;
    if (!settings.contains(kMainWindowGeometry))
        return std::nullopt;
    return Placement{settings.value(kMainWindowGeometry).toByteArray(), settings.value(kMainWindowState).toByteArray(),
                     settings.value(kPasswordEntryGeometry).toByteArray()};
}

void Settings::setPlacement(const Placement &placement)
{
    QSettings settings;
    settings.setValue(kMainWindowGeometry, placement.window);
    settings.setValue(kMainWindowState, placement.windowState);
    settings.setValue(kPasswordEntryGeometry, placement.passwordEntry);
}

int Settings::lastPlayer(const QString &game)
{
    return readInt(lastPlayerKey(game), kId);
}

void Settings::setLastPlayer(const QString &game, int playerId)
{
    writeChanged(lastPlayerKey(game), playerId, lastPlayer(game));
}

int Settings::side(int playerId)
{
    return readInt(sideKey(playerId), kId);
}

void Settings::setSide(int playerId, int sideId)
{
    writeChanged(sideKey(playerId), sideId, side(playerId));
}

QJsonArray Settings::mapSides(const QString &sideName, int playerId, const QJsonArray &fallback)
{
    const QString key = mapSidesKey(sideName, playerId);
    const QVariant stored = QSettings().value(key);
    if (!stored.isValid())
        return fallback;
    const QJsonDocument table = QJsonDocument::fromJson(stored.toByteArray());
    if (table.isArray())
        return table.array();
    reject(key, stored, QStringLiteral("no choices"));
    return fallback;
}

void Settings::setMapSides(const QString &sideName, int playerId, const QJsonArray &table)
{
    QSettings().setValue(mapSidesKey(sideName, playerId), QJsonDocument(table).toJson(QJsonDocument::Indented));
}

QStringList Settings::games()
{
    QSettings settings;
    settings.beginGroup(kSpawnableGames);
    return settings.childKeys();
}

Settings::Game Settings::game(const QString &abbreviation)
{
    const QString group = abbreviation + QLatin1Char('/');
    Game game;
    game.abbreviation = readText(group + QStringLiteral("abbreviation"), abbreviation);
    game.exe = readText(group + QStringLiteral("exe"));
    game.workingDir = readText(group + QStringLiteral("workingDir"));
    game.arguments = readText(group + QStringLiteral("arguments"));
    game.ddraw = readText(group + QStringLiteral("ddraw"));
    QSettings settings;
    settings.beginGroup(abbreviation);
    game.postRemoveFiles = settings.value(QStringLiteral("postRemoveFiles")).toStringList();
    // Written as "executeEnvirontment" and read under the right spelling, so
    // the environment always comes from detection and never piles up.
    game.executeEnvironment = settings.value(QStringLiteral("executeEnvironment")).toStringList();
    settings.beginGroup(QStringLiteral("preCopyFiles"));
    for (const QString &key : settings.allKeys()) {
        // The settings store drops a path's leading "/" when it splits keys.
        const QString source = QDir::isAbsolutePath(key) ? key : QLatin1Char('/') + key;
        game.preCopyFiles.append({source, settings.value(key).toString()});
    }
    return game;
}

void Settings::setGame(const Game &game)
{
    QSettings settings;
    settings.setValue(kSpawnableGames + game.abbreviation, game.workingDir);
    settings.beginGroup(game.abbreviation);
    settings.setValue(QStringLiteral("exe"), game.exe);
    settings.setValue(QStringLiteral("workingDir"), game.workingDir);
    settings.setValue(QStringLiteral("abbreviation"), game.abbreviation);
    settings.setValue(QStringLiteral("postRemoveFiles"), game.postRemoveFiles);
    settings.setValue(QStringLiteral("executeEnvirontment"), game.executeEnvironment);
    settings.setValue(QStringLiteral("arguments"), game.arguments);
    settings.setValue(QStringLiteral("ddraw"), game.ddraw);
    settings.remove(QStringLiteral("preCopyFiles"));
    settings.beginGroup(QStringLiteral("preCopyFiles"));
    for (const auto &pair : game.preCopyFiles)
        settings.setValue(pair.first, pair.second);
}
