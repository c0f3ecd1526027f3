#pragma once

#include <QApplication>

class SingleApplicationPrivate;

// One running copy per user. The first instance (primary) holds a named
// shared-memory block and a local server of the same name; a later start
// tells the primary and exits with status 0.
class SingleApplication : public QApplication
{
    Q_OBJECT
public:
    enum Mode {
        User = 0x1,
        System = 0x2,
        SecondaryNotification = 0x4,
        ExcludeAppVersion = 0x8,
        ExcludeAppPath = 0x10,
    };
    Q_DECLARE_FLAGS(Options, Mode)

    SingleApplication(int &argc, char *argv[], bool allowSecondary = false,
                      Options options = Mode::User, int timeout = 100);
    ~SingleApplication() override;

    bool isPrimary() const;
    bool isSecondary() const;
    quint32 instanceId() const;
    qint64 primaryPid() const;
    bool sendMessage(const QByteArray &message, int timeout = 100);

    // The key shared by the memory block and the server; for tests.
    QString blockServerName() const;

signals:
    void instanceStarted();
    void receivedMessage(quint32 instanceId, QByteArray message);

private:
    SingleApplicationPrivate *d;
    friend class SingleApplicationPrivate;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(SingleApplication::Options)
