#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class GameCatalogue;
class SpawnableGame;

namespace MapTest {

// One entry of a hand-made archive: the Unix mode goes into the external
// attributes, so links (0120777) can be written, which the client's own
// writer never does.
struct ZipEntry
{
    QByteArray name;
    QByteArray data;
    quint32 unixMode = 0100644;
};
QByteArray buildZip(const QList<ZipEntry> &entries);

QString sha1(const QByteArray &content);
// With a valid modified, the file's modification time is set to it.
void writeFile(const QString &path, const QByteArray &content, const QDateTime &modified = QDateTime());
// Every path below root, relative to it, except those below the skipped
// folders; for checking that nothing landed outside them.
QStringList filesBelow(const QString &root, const QStringList &skip = QStringList());

// A new catalogue whose only game, in folder (created), is the current one;
// the catalogue made before is deleted.
SpawnableGame *useGame(const QString &folder, const QString &abbreviation = QStringLiteral("yr"));
// The catalogue useGame made; null after forgetGames().
GameCatalogue *games();
void forgetGames();

} // namespace MapTest
