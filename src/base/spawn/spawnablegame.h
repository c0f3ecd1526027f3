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
    using Table = QMap<QString, SpawnableGame *>;

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

    // The process-wide table, one object per abbreviation, kept for the run.
    static SpawnableGame *get(const QString &abbreviation);
    static void loadAll();
    static Table discoverGames();
    // Whether a game's launcher lies in dir or its parent, where discovery
    // looks when the program runs in dir.
    static bool holdsGame(const QString &dir);
    static Table table();
    static QString localGame();
    // Drops every definition; detection then starts from the settings alone.
    static void resetTable();

private:
    void selectRenderer();
    void addPreCopy(const QString &source, const QString &name, bool removeAfter);
    void hashFiles();
};
