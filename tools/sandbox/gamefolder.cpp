#include "gamefolder.h"

#include "dataset.h"
#include "options.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace GameFolder {

const char *const RendererName = "SandboxDraw";

namespace {

bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QFileInfo(path).dir().mkpath(QStringLiteral("."));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool copyLauncher(const QString &source, const QString &target, const SandboxOptions &options, QString *error)
{
    QFile::remove(target);
    if (options.linkLaunchers) {
        if (QFile::link(QFileInfo(source).absoluteFilePath(), target))
            return true;
        *error = QStringLiteral("cannot link %1 to %2").arg(target, source);
        return false;
    }
    if (!QFile::copy(source, target)) {
        *error = QStringLiteral("cannot copy %1 to %2").arg(source, target);
        return false;
    }
    QFileDevice::Permissions perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
        | QFileDevice::ReadOther;
    if (!options.brokenLauncher)
        perms |= QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    QFile::setPermissions(target, perms);
    return true;
}

bool writeRenderer(const QDir &dir, QString *error)
{
    const QByteArray name(RendererName);
    return writeFile(dir.filePath(QStringLiteral("RA2MD.ini")),
                     "[Options]\nGameSpeed=0\n\n[Compatibility]\nRenderer=" + name + "\n", error)
        && writeFile(dir.filePath(QStringLiteral("Resources/Renderers.ini")),
                     "[" + name + "]\nName=Sandbox renderer\nDLLName=sandbox_ddraw.dll\nConfigFileName=sandbox_ddraw.ini\n"
                     "ResConfigFileName=sandbox_ddraw_default.ini\nAdditionalFiles=sandbox_extra1.dat,sandbox_extra2.dat\n",
                     error)
        && writeFile(dir.filePath(QStringLiteral("Resources/sandbox_ddraw.dll")), "sandbox renderer library\n", error)
        && writeFile(dir.filePath(QStringLiteral("Resources/sandbox_ddraw_default.ini")), "[Sandbox]\nWindowed=1\n", error)
        && writeFile(dir.filePath(QStringLiteral("Resources/sandbox_extra1.dat")), "extra one\n", error)
        && writeFile(dir.filePath(QStringLiteral("Resources/sandbox_extra2.dat")), "extra two\n", error);
}

} // namespace

QString launcherName(const QString &abbreviation)
{
    if (abbreviation == QLatin1String("yr"))
        return QStringLiteral("morvel.exe");
    if (abbreviation == QLatin1String("ts"))
        return QStringLiteral("quillon.exe");
    if (abbreviation == QLatin1String("ra"))
        return QStringLiteral("fennick.exe");
    return QString();
}

bool make(const DataSet &data, const SandboxOptions &options, const QString &programDir, QStringList *report,
          QString *error)
{
    QDir dir(options.makeGameFolder);
    if (!dir.mkpath(QStringLiteral("."))) {
        *error = QStringLiteral("cannot create ") + options.makeGameFolder;
        return false;
    }
    const QString source = options.fakegame.isEmpty() ? programDir + QStringLiteral("/fakegame") : options.fakegame;
    if (!QFileInfo(source).isFile()) {
        *error = QStringLiteral("no launcher program at %1 (build fakegame or pass --fakegame)").arg(source);
        return false;
    }
    const QStringList games = options.game == QLatin1String("all")
        ? QStringList{QStringLiteral("yr"), QStringLiteral("ts"), QStringLiteral("ra")}
        : QStringList{options.game};
    for (const QString &abbr : games) {
        const QString launcher = dir.absoluteFilePath(launcherName(abbr));
        if (!copyLauncher(source, launcher, options, error))
            return false;
        report->append(QStringLiteral("LAUNCHER %1 %2").arg(abbr, launcher));
        const LadderDef *ladder = data.ladder(abbr);
        if (!ladder)
            continue;
        for (int i = 0; i < ladder->maps.size(); ++i) {
            const MapDef &map = ladder->maps.at(i);
            // The first map sits in another scanned folder than the rest.
            const QString folder = i == 0 ? QStringLiteral("Maps/Standards/") : QStringLiteral("Maps/Custom/");
            const QString path = dir.absoluteFilePath(folder + map.fileName);
            const bool present = options.gameMaps == QLatin1String("all")
                || (options.gameMaps == QLatin1String("some") && i % 2 == 0);
            if (present && !writeFile(path, map.bytes, error))
                return false;
            if (!present)
                QFile::remove(path);
            report->append(QStringLiteral("MAP %1 %2 %3 %4")
                               .arg(present ? QStringLiteral("present") : QStringLiteral("missing"), abbr, map.hash, path));
        }
    }
    dir.mkpath(QStringLiteral("Maps/Custom"));
    return writeRenderer(dir, error);
}

} // namespace GameFolder
