#include "gameconfig.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace GameFiles {

const QStringList Modes = {QStringLiteral("normal"), QStringLiteral("crash"), QStringLiteral("crash-signal"),
                           QStringLiteral("nostart"), QStringLiteral("hang")};

namespace {

void apply(GameConfig *config, const QString &key, const QString &value)
{
    if (value.isEmpty())
        return;
    bool ok = true;
    if (key == QLatin1String("mode")) {
        if (Modes.contains(value.toLower()))
            config->mode = value.toLower();
        else
            ok = false;
    } else if (key == QLatin1String("seconds") || key == QLatin1String("load")) {
        const int v = value.toInt(&ok);
        ok = ok && v >= 0 && v <= 3600;
        if (ok)
            (key == QLatin1String("load") ? config->loadSeconds : config->seconds) = v;
    } else if (key == QLatin1String("interval")) {
        const int v = value.toInt(&ok);
        ok = ok && v >= 5 && v <= 10000;
        if (ok)
            config->intervalMs = v;
    } else if (key == QLatin1String("eip")) {
        config->eip = value;
    }
    if (!ok)
        config->problem += QStringLiteral("ignored %1=\"%2\"; ").arg(key, value);
}

} // namespace

GameConfig readConfig(const QString &gameDir)
{
    GameConfig config;
    apply(&config, QStringLiteral("mode"), qEnvironmentVariable("FAKEGAME_MODE"));
    apply(&config, QStringLiteral("seconds"), qEnvironmentVariable("FAKEGAME_SECONDS"));
    apply(&config, QStringLiteral("load"), qEnvironmentVariable("FAKEGAME_LOAD_SECONDS"));
    apply(&config, QStringLiteral("interval"), qEnvironmentVariable("FAKEGAME_INTERVAL_MS"));
    apply(&config, QStringLiteral("eip"), qEnvironmentVariable("FAKEGAME_EIP"));
    const QString file = QDir(gameDir).filePath(QStringLiteral("fakegame.ini"));
    if (QFileInfo::exists(file)) {
        QSettings ini(file, QSettings::IniFormat);
        ini.beginGroup(QStringLiteral("FakeGame"));
        apply(&config, QStringLiteral("mode"), ini.value(QStringLiteral("Mode")).toString());
        apply(&config, QStringLiteral("seconds"), ini.value(QStringLiteral("Seconds")).toString());
        apply(&config, QStringLiteral("load"), ini.value(QStringLiteral("LoadSeconds")).toString());
        apply(&config, QStringLiteral("interval"), ini.value(QStringLiteral("IntervalMs")).toString());
        apply(&config, QStringLiteral("eip"), ini.value(QStringLiteral("Eip")).toString());
    }
    return config;
}

bool readSpawn(const QString &path, SpawnFile *spawn, QString *error)
{
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("no spawn file at ") + path;
        return false;
    }
    QSettings ini(path, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    if (ini.status() != QSettings::NoError) {
        *error = QStringLiteral("spawn file is not readable INI");
        return false;
    }
    spawn->myId = quint16(ini.value(QStringLiteral("Settings/Port")).toUInt());
    spawn->name = ini.value(QStringLiteral("Settings/Name")).toString();
    spawn->tunnelIp = ini.value(QStringLiteral("Tunnel/IP")).toString();
    spawn->tunnelPort = quint16(ini.value(QStringLiteral("Tunnel/Port")).toUInt());
    for (int i = 1; i <= 7; ++i) {
        const QString section = QStringLiteral("Other%1").arg(i);
        if (!ini.childGroups().contains(section))
            continue;
        spawn->opponents.append({section, ini.value(section + QStringLiteral("/Name")).toString(),
                                 quint16(ini.value(section + QStringLiteral("/Port")).toUInt())});
    }
    if (spawn->tunnelIp.isEmpty() || spawn->tunnelPort == 0) {
        *error = QStringLiteral("spawn file has no [Tunnel] IP and Port");
        return false;
    }
    return true;
}

QString exceptionFileFor(const QString &launcher)
{
    const QString name = QFileInfo(launcher).fileName().toLower();
    if (name == QLatin1String("quillon.exe"))
        return QStringLiteral("except.txt");
    if (name == QLatin1String("fennick.exe"))
        return QString();
    return QStringLiteral("EXCEPT_LORVANE.TXT");
}

} // namespace GameFiles
