#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Everything the program keeps between runs, one typed accessor per key.
// Key names and value formats are those earlier versions wrote, so their
// files keep working. A stored value out of range reads as the default, with
// a log line, and stays in the file until the player sets another value:
// a setter that would store what is read already writes nothing.
class Settings
{
public:
    Settings() = delete;

    // Where the store lives when not the user's own (the bot: beside its log).
    static void useFolder(const QString &dir);
    // Forgets everything, login included.
    static void clear();

    static QString accessToken();
    static void setAccessToken(const QString &token);
    static void removeAccessToken();
    static QString accountName();
    static void setAccountName(const QString &name);

    static QString gameFolder();
    static void setGameFolder(const QString &dir);
    static QString winePrefix();
    static void setWinePrefix(const QString &prefix);
    static QString wineProgram(); // "wine" unless set

    static bool allowP2P(); // on unless set
    static void setAllowP2P(bool allow);
    // "Map a port on my router"; read at start-up.
    static bool mapPortOnRouter(); // on unless set
    static void setMapPortOnRouter(bool map);
    static bool processWatcherEnabled(); // on unless set
    static void setProcessWatcherEnabled(bool enabled);
    static QStringList watchedProcesses(); // empty when none are stored
    static void setWatchedProcesses(const QStringList &names);
    static int volume(); // 0 to 100, 75 unless set
    static void setVolume(int volume);

    struct Placement
    {
        QByteArray window;
        QByteArray windowState;
        QByteArray passwordEntry;
    };
    static std::optional<Placement> placement();
    static void setPlacement(const Placement &placement);

    // -1 when none is stored.
    static int lastPlayer(const QString &game);
    static void setLastPlayer(const QString &game, int playerId);
    static int side(int playerId);
    static void setSide(int playerId, int sideId);
    // The side or veto per map of one account playing one side.
    static QJsonArray mapSides(const QString &sideName, int playerId, const QJsonArray &fallback);
    static void setMapSides(const QString &sideName, int playerId, const QJsonArray &table);

    // A game found on this machine, by abbreviation.
    struct Game
    {
        QString abbreviation;
        QString exe;
        QString workingDir;
        QString arguments;
        QString ddraw;
        QStringList postRemoveFiles;
        QStringList executeEnvironment;
        QList<QPair<QString, QString>> preCopyFiles;
    };
    static QStringList games();
    static Game game(const QString &abbreviation);
    static void setGame(const Game &game);
};
