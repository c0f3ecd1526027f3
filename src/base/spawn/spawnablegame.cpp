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

QStringList SpawnableGame::builtIns()
{
    QStringList names;
    for (const BuiltIn &builtIn : kBuiltIns)
        names << QString::fromLatin1(builtIn.abbreviation);
    return names;
}

bool SpawnableGame::launcherNearby(const QString &abbreviation)
{
    for (const BuiltIn &builtIn : kBuiltIns) {
        const QString launcher = QString::fromLatin1(builtIn.launcher);
        if (abbreviation == QLatin1String(builtIn.abbreviation))
            return QFileInfo::exists(launcher) || QFileInfo::exists(QStringLiteral("../") + launcher);
    }
    return false;
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

void SpawnableGame::detect()
{
    for (const BuiltIn &builtIn : kBuiltIns) {
        if (abbreviation != QLatin1String(builtIn.abbreviation))
            continue;
        const QString launcher = QString::fromLatin1(builtIn.launcher);
        exe = exeFile = launcher;
        arguments = QStringLiteral("-SPAWN");
        if (builtIn.exceptionFile)
            exceptionFile = QString::fromLatin1(builtIn.exceptionFile);
        if (QFileInfo::exists(launcher))
            workingDir = absoluteDirOf(QStringLiteral("."));
        else if (QFileInfo::exists(QStringLiteral("../") + launcher))
            workingDir = absoluteDirOf(QStringLiteral(".."));
        if (QFileInfo::exists(workingDir + QStringLiteral("ddraw.dll")))
            ddraw = workingDir + QStringLiteral("ddraw.dll");
        if (abbreviation == QLatin1String("yr"))
            selectRenderer();
        if (builtIn.environment)
            executeEnvironment.append(QString::fromLatin1(builtIn.environment));
    }
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
