#pragma once

#include <QList>
#include <QString>

// Game results the service has not confirmed yet, kept in the game folder's
// "Zantry/Outbox" until it has: a result moved there before anything else
// touches the folder survives a failed upload, a service that is down and a
// client killed during the game. Each entry is the result file and, beside
// it, the upload path it goes to. Files only; the service client uploads.
class ResultOutbox
{
public:
    struct Entry
    {
        QString file; // the result, "<n>.dmp"
        QString path; // the upload path below the service's base
    };

    // gameDir: the game folder, ending with "/".
    explicit ResultOutbox(const QString &gameDir);

    // Moves the result file in; false when it cannot be kept (then the
    // caller uploads it from where it is).
    bool keep(const QString &resultFile, const QString &uploadPath, Entry *entry);
    // Every entry, oldest first.
    QList<Entry> entries() const;
    static void remove(const Entry &entry);

    // Before the launch: the upload path of the game about to start, in case
    // this client does not see it end (killed). The game's result that turns
    // up later in the folder is then taken in by takeExpected().
    void expect(const QString &uploadPath);
    void forget();
    // Takes in a result the expected game wrote; true when one was taken.
    // An expectation with no result after a day is dropped.
    bool takeExpected(Entry *entry);
    bool expecting() const;

private:
    QString expectedFile() const;
    QString m_gameDir;
    QString m_dir;
};
