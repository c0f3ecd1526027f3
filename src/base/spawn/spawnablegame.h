#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

// One installed game: which launcher to run, where, with what, which files
// to put in place around a match, and the digests the service is told.
class SpawnableGame : public QObject
{
    Q_OBJECT
public:
    explicit SpawnableGame(const QString &abbreviation = QString(), QObject *parent = nullptr);

    QString exe;
    QString workingDir; // absolute, ends with "/"
    QString abbreviation;
    QList<QPair<QString, QString>> preCopyFiles; // (source path, name in workingDir)
    QStringList postRemoveFiles;
    QStringList executeEnvironment;
    QString arguments;
    QString exeFile;
    QString exeHash;
    QString exceptionFile;
    QString ddraw;
    QString ddrawHash;

    void load();
    void save() const;

    // The built-in games, in detection order.
    static QStringList builtIns();
    // Whether the built-in game's launcher lies in the current folder or its parent.
    static bool launcherNearby(const QString &abbreviation);
    // Whether a game's launcher lies in dir or its parent, where discovery
    // looks when the program runs in dir.
    static bool holdsGame(const QString &dir);
    // Fills in what detection finds for this built-in game around the current
    // folder; the stored working folder stays when the launcher is not there.
    void detect();
    void hashFiles();

private:
    void selectRenderer();
    void addPreCopy(const QString &source, const QString &name, bool removeAfter);
};
