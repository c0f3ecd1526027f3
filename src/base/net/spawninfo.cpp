#include "net/spawninfo.h"

#include <QFile>
#include <QJsonValue>
#include <QSettings>

namespace {

// Scalars only: the service sends nothing else here, and an array or object
// has no form the game would understand.
void writeMember(QSettings &ini, const QString &key, const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        ini.setValue(key, value.toBool());
        break;
    case QJsonValue::Double: {
        const double number = value.toDouble();
        const qint64 whole = qint64(number);
        if (double(whole) == number)
            ini.setValue(key, whole);
        else
            ini.setValue(key, number);
        break;
    }
    case QJsonValue::String:
        ini.setValue(key, value.toString());
        break;
    default:
        break;
    }
}

void writeObject(QSettings &ini, const QJsonObject &object)
{
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        writeMember(ini, it.key(), it.value());
}

} // namespace

bool SpawnInfo::writeSpawnIni(const QString &fileName) const
{
    // No key of an earlier match may survive into this one.
    QFile::remove(fileName);
    QSettings ini(fileName, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");

    ini.beginGroup(QStringLiteral("Settings"));
    writeObject(ini, settings);
    ini.setValue(QStringLiteral("Port"), int(myID % 65536u));
    ini.setValue(QStringLiteral("Scenario"), QStringLiteral("spawnmap.ini"));
    ini.setValue(QStringLiteral("Zantry"), QStringLiteral("Yes"));
    ini.endGroup();

    for (auto it = others.constBegin(); it != others.constEnd(); ++it) {
        ini.beginGroup(it.key());
        const QJsonObject &other = it.value();
        for (auto member = other.constBegin(); member != other.constEnd(); ++member) {
            if (member.key() == QLatin1String("Port"))
                ini.setValue(member.key(), member.value().toInt());
            else
                writeMember(ini, member.key(), member.value());
        }
        // Every opponent sits behind the local router's tunnel port.
        ini.setValue(QStringLiteral("IP"), QStringLiteral("0.0.0.0"));
        ini.endGroup();
    }

    ini.beginGroup(QStringLiteral("SpawnLocations"));
    writeObject(ini, spawnLocations);
    ini.endGroup();

    ini.beginGroup(QStringLiteral("Tunnel"));
    ini.setValue(QStringLiteral("IP"), tunnelIP);
    ini.setValue(QStringLiteral("Port"), tunnelPort);
    ini.endGroup();

    ini.sync();
    return ini.status() == QSettings::NoError;
}
