#pragma once

#include "app/singleapplication.h"

#include <QByteArray>
#include <QObject>

class QLocalServer;
class QLocalSocket;
class QSharedMemory;

// Layout of the 16-byte block shared between instances.
struct InstancesInfo
{
    quint8 primary;
    quint8 padding[3];
    quint32 secondary;
    qint64 primaryPid;
};
static_assert(sizeof(InstancesInfo) == 16, "the block is 16 bytes");

class SingleApplicationPrivate : public QObject
{
    Q_OBJECT
public:
    enum ConnectionType : char { NewInstance = 'N', SecondaryInstance = 'S', Reconnect = 'R' };

    SingleApplicationPrivate(SingleApplication *q, int options);
    ~SingleApplicationPrivate() override;

    static QString computeBlockServerName(int options);
    // The connection message: name, type, instance number, checksum text.
    static QByteArray connectionMessage(const QString &blockServerName, char type, quint32 instance);
    static QByteArray checksumText(const QByteArray &bytes);

    bool tryBecomePrimary(bool allowSecondary, int timeout);
    void startPrimary();
    void connectToPrimary(int timeout, char connectionType);
    qint64 primaryPid();

    QSharedMemory *memory = nullptr;
    SingleApplication *owner;
    QLocalSocket *socket = nullptr;
    QLocalServer *server = nullptr;
    quint32 instanceNumber = 0;
    QString blockServerName;
    int options;

public slots:
    void slotConnectionEstablished();
    void slotDataAvailable(QLocalSocket *socket, quint32 instance);
    void slotClientConnectionClosed(QLocalSocket *socket, quint32 instance);
};
