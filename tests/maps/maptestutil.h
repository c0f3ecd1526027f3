#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTcpServer>

class SpawnableGame;

namespace MapTest {

// One entry of a hand-made archive: the Unix mode goes into the external
// attributes, so links (0120777) can be written, which QZipWriter cannot.
struct ZipEntry
{
    QByteArray name;
    QByteArray data;
    quint32 unixMode = 0100644;
};
QByteArray buildZip(const QList<ZipEntry> &entries);

QString sha1(const QByteArray &content);
void writeFile(const QString &path, const QByteArray &content);
// Every path below root, relative to it, except those below the skipped
// folders; for checking that nothing landed outside them.
QStringList filesBelow(const QString &root, const QStringList &skip = QStringList());

// A game in folder (created) made the only detected and the current game.
SpawnableGame *useGame(const QString &folder, const QString &abbreviation = QStringLiteral("yr"));
void forgetGames();

} // namespace MapTest

// A tiny HTTP/1.1 server on loopback for answers the sandbox does not give:
// hostile archives, held replies. Unknown paths get 404.
class HttpStub : public QObject
{
    Q_OBJECT
public:
    struct Answer
    {
        int status = 200;
        QByteArray body;
        bool hold = false; // answered only by release()
    };

    bool listen();
    QString url() const;
    void set(const QString &path, const Answer &answer) { m_answers.insert(path, answer); }
    QStringList requests() const { return m_requests; }
    int maxInFlight() const { return m_maxInFlight; }
    int held() const { return m_held.size(); }
    void release();

private:
    void onConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Answer &answer);

    QHash<QString, Answer> m_answers;
    QStringList m_requests;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QList<QPair<QTcpSocket *, Answer>> m_held;
    QSet<QTcpSocket *> m_inFlight;
    int m_maxInFlight = 0;
    // Last, so its sockets go while the tables their handlers use still exist.
    QTcpServer m_server;
};
