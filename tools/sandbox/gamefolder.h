#pragma once

#include <QString>
#include <QStringList>

class DataSet;
struct SandboxOptions;

// A game folder the client can start from: the launchers (copies of
// fakegame), "RA2MD.ini", "Resources/Renderers.ini" with the files it names,
// and map folders holding some of the ladder's maps. Returns one line per
// launcher and map ("LAUNCHER <abbr> <path>", "MAP present|missing <abbr>
// <digest> <path>") for the caller to print.
namespace GameFolder {

extern const char *const RendererName;

QString launcherName(const QString &abbreviation);
bool make(const DataSet &data, const SandboxOptions &options, const QString &programDir, QStringList *report,
          QString *error);

} // namespace GameFolder
