#pragma once

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// What a game-crash report needs from the session, as plain values.
struct GameCrashInfo
{
    QString abbreviation;
    QString workingDir; // ends with "/"
    QString exceptionFile;
    QString nickname;
    int gameId = 0;
};

// Crash capture and the upload of crash files; process-wide, as the capture
// of a crash is.
class CrashHandler : public QObject
{
    Q_OBJECT
public:
    static CrashHandler *instance();

    using Fields = QList<QPair<QString, QString>>;

    // Installs the crash capture, writing into dataDir, and uploads crash
    // files of earlier runs found there.
    void install(const QDir &dataDir);
    // Posts every crash pair left in the data directory and moves it to
    // "Archives", whatever the upload's outcome.
    void uploadOldCrashFiles();

    // The game's exception report for these values; true when one was sent.
    bool uploadGameCrash(const GameCrashInfo &info);
    // The "Eip:" address in an exception file; empty when there is none.
    static QString exceptionAddress(const QByteArray &content);

public slots:
    void printReply(QNetworkReply *reply);

private:
    CrashHandler();
    void post(const Fields &fields, const QString &zipName, const QByteArray &archive);

    QNetworkAccessManager *m_manager;
    QDir m_dataDir;
};
