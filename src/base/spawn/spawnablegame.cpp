#include "spawn/spawnablegame.h"

#include "util/filedigest.h"
#include "util/settings.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

struct BuiltIn
{
    const char *abbreviation;
    const char *launcher;
    const char *exceptionFile; // null: the game writes none
    const char *environment; // null: the game keeps the caller's environment
};

// Detection order; the last one found becomes the local game.
const BuiltIn kBuiltIns[] = {
    {"yr", "morvel.exe", "EXCEPT_LORVANE.TXT", nullptr},
    {"ts", "quillon.exe", "except.txt", "__COMPAT_LAYER=HIGHDPIAWARE 16BITCOLOR 8And16BitTimedPriSync"},
    {"ra", "fennick.exe", nullptr, "__COMPAT_LAYER=HIGHDPIAWARE"},
};

SpawnableGame::Table s_table;
QString s_localGame;

// QSettings reads "a,b" in an INI file as a list; the game's files mean text.
QString iniText(const QSettings &ini, const QString &key, const QString &fallback = QString())
{
    const QVariant value = ini.value(key, fallback);
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

QString absoluteDirOf(const QString &relative)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(relative)) + QLatin1Char('/');
}

} // namespace

SpawnableGame::SpawnableGame(const QString &abbreviation, QObject *parent)
    : QObject(parent)
    , abbreviation(abbreviation)
{
}

void SpawnableGame::load()
{
    // What detection fills in starts empty, as in a new run's object.
    exeFile.clear();
    exeHash.clear();
    exceptionFile.clear();
    ddraw.clear();
    ddrawHash.clear();
    const Settings::Game stored = Settings::game(abbreviation);
    exe = stored.exe;
    workingDir = stored.workingDir;
    abbreviation = stored.abbreviation;
    postRemoveFiles = stored.postRemoveFiles;
    executeEnvironment = stored.executeEnvironment;
    arguments = stored.arguments;
    preCopyFiles = stored.preCopyFiles;
}

void SpawnableGame::save() const
{
    Settings::setGame(
        {abbreviation, exe, workingDir, arguments, ddraw, postRemoveFiles, executeEnvironment, preCopyFiles});
}

SpawnableGame *SpawnableGame::get(const QString &abbreviation)
{
    SpawnableGame *&game = s_table[abbreviation];
    if (!game)
        game = new SpawnableGame(abbreviation);
    return game;
}

void SpawnableGame::loadAll()
{
    const QStringList saved = Settings::games();
    for (const QString &abbreviation : saved) {
        // The object others may hold (Global) is read afresh in place: one
        // per abbreviation for the run, and none dropped without a delete.
        get(abbreviation)->load();
    }
}

bool SpawnableGame::holdsGame(const QString &dir)
{
    if (dir.isEmpty())
        return false;
    const QDir folder(dir);
    for (const BuiltIn &builtIn : kBuiltIns) {
        const QString launcher = QString::fromLatin1(builtIn.launcher);
        if (QFileInfo::exists(folder.filePath(launcher)) || QFileInfo::exists(folder.filePath(QStringLiteral("../") + launcher)))
            return true;
    }
    return false;
}

SpawnableGame::Table SpawnableGame::discoverGames()
{
    loadAll();
    SpawnableGame *last = nullptr;
    for (const BuiltIn &builtIn : kBuiltIns) {
        const QString abbreviation = QString::fromLatin1(builtIn.abbreviation);
        const QString launcher = QString::fromLatin1(builtIn.launcher);
        const bool here = QFileInfo::exists(launcher);
        const bool parent = QFileInfo::exists(QStringLiteral("../") + launcher);
        if (!here && !parent && !s_table.contains(abbreviation))
            continue;
        SpawnableGame *game = get(abbreviation);
        game->exe = game->exeFile = launcher;
        game->arguments = QStringLiteral("-SPAWN");
        if (builtIn.exceptionFile)
            game->exceptionFile = QString::fromLatin1(builtIn.exceptionFile);
        if (here)
            game->workingDir = absoluteDirOf(QStringLiteral("."));
        else if (parent)
            game->workingDir = absoluteDirOf(QStringLiteral(".."));
        s_localGame = abbreviation;
        if (QFileInfo::exists(game->workingDir + QStringLiteral("ddraw.dll")))
            game->ddraw = game->workingDir + QStringLiteral("ddraw.dll");
        if (abbreviation == QLatin1String("yr"))
            game->selectRenderer();
        if (builtIn.environment)
            game->executeEnvironment.append(QString::fromLatin1(builtIn.environment));
        last = game;
    }
    if (last)
        last->save();
    for (SpawnableGame *game : qAsConst(s_table))
        game->hashFiles();
    return s_table;
}

void SpawnableGame::selectRenderer()
{
    preCopyFiles.clear();
    const QSettings gameIni(workingDir + QStringLiteral("RA2MD.ini"), QSettings::IniFormat);
    const QString renderer = iniText(gameIni, QStringLiteral("Compatibility/Renderer"));
    if (QFileInfo::exists(workingDir + QStringLiteral("ddraw.dll")) || renderer.isEmpty())
        return;

    QSettings renderers(workingDir + QStringLiteral("/Resources/Renderers.ini"), QSettings::IniFormat);
    renderers.beginGroup(renderer);
    const QString resources = workingDir + QStringLiteral("Resources/");
    const QString dllName = iniText(renderers, QStringLiteral("DLLName"));
    if (!dllName.isEmpty()) {
        ddraw = resources + dllName;
        addPreCopy(ddraw, QStringLiteral("ddraw.dll"), true);
    }
    const QString configName = iniText(renderers, QStringLiteral("ConfigFileName"));
    if (!configName.isEmpty()) {
        qDebug().noquote() << QStringLiteral("Adding precopy file ") + resources + configName;
        const QString resConfig = iniText(renderers, QStringLiteral("ResConfigFileName"), configName);
        preCopyFiles.append({resources + resConfig, configName});
    }
    const QString additional = iniText(renderers, QStringLiteral("AdditionalFiles"));
    if (!additional.isEmpty()) {
        for (const QString &name : additional.split(QLatin1Char(',')))
            addPreCopy(resources + name, name, true);
    }
}

void SpawnableGame::addPreCopy(const QString &source, const QString &name, bool removeAfter)
{
    qDebug().noquote() << QStringLiteral("Adding precopy file ") + source;
    preCopyFiles.append({source, name});
    // The list is saved and read back each run; appending again would grow it.
    if (removeAfter && !postRemoveFiles.contains(name))
        postRemoveFiles.append(name);
}

void SpawnableGame::hashFiles()
{
    exeHash = FileDigest::sha1Hex(workingDir + exeFile);
    qDebug().noquote() << "Game" << abbreviation << "exe hashed to" << exeHash;
    if (!ddraw.isEmpty() && QFileInfo::exists(ddraw)) {
        ddrawHash = FileDigest::sha1Hex(ddraw);
        qDebug().noquote() << "Game" << abbreviation << "ddraw hashed to" << ddrawHash;
    }
}

SpawnableGame::Table SpawnableGame::table()
{
    return s_table;
}

QString SpawnableGame::localGame()
{
    return s_localGame;
}

void SpawnableGame::resetTable()
{
    qDeleteAll(s_table);
    s_table.clear();
    s_localGame.clear();
}
