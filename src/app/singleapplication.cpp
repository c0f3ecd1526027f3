#include "app/singleapplication.h"
#include "app/singleapplication_p.h"

#include "platform/processinfo.h"
#include "platform/username.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>

#include <cstdlib>

SingleApplicationPrivate::SingleApplicationPrivate(SingleApplication *q, int opts)
    : owner(q)
    , options(opts)
{
}

SingleApplicationPrivate::~SingleApplicationPrivate()
{
    if (socket) {
        socket->close();
        delete socket;
        socket = nullptr;
    }
    if (memory && memory->isAttached()) {
        memory->lock();
        auto *inst = static_cast<InstancesInfo *>(memory->data());
        if (server) {
            server->close();
            delete server;
            server = nullptr;
            inst->primary = 0;
            inst->primaryPid = -1;
        }
        memory->unlock();
    }
    delete memory;
}

QString SingleApplicationPrivate::computeBlockServerName(int options)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("SingleApplication", 17);
    hash.addData(QCoreApplication::applicationName().toUtf8());
    hash.addData(QCoreApplication::organizationName().toUtf8());
    hash.addData(QCoreApplication::organizationDomain().toUtf8());
    if (!(options & SingleApplication::ExcludeAppVersion))
        hash.addData(QCoreApplication::applicationVersion().toUtf8());
    if (!(options & SingleApplication::ExcludeAppPath))
        hash.addData(QCoreApplication::applicationFilePath().toLower().toUtf8());
    if (options & SingleApplication::User) {
        QString user = Platform::userName();
        if (user.isEmpty())
            user = QStandardPaths::standardLocations(QStandardPaths::HomeLocation).join(QString());
        hash.addData(user.toUtf8());
    }
    return QString::fromLatin1(hash.result().toBase64().replace('/', '_'));
}

QByteArray SingleApplicationPrivate::checksumText(const QByteArray &bytes)
{
    // Any deterministic text of the CRC serves; both sides use this one.
    const quint16 crc = qChecksum(bytes.constData(), uint(bytes.size()), Qt::ChecksumIso3309);
    return QByteArray::number(crc);
}

QByteArray SingleApplicationPrivate::connectionMessage(const QString &name, char type, quint32 instance)
{
    QByteArray message = name.toLatin1();
    message.append(type);
    const quint32 le = qToLittleEndian(instance);
    message.append(reinterpret_cast<const char *>(&le), 4);
    message.append(checksumText(message));
    return message;
}

void SingleApplicationPrivate::startPrimary()
{
    QLocalServer::removeServer(blockServerName);
    server = new QLocalServer();
    server->setSocketOptions((options & SingleApplication::User) ? QLocalServer::UserAccessOption
                                                                 : QLocalServer::WorldAccessOption);
    server->listen(blockServerName);
    connect(server, &QLocalServer::newConnection, this, &SingleApplicationPrivate::slotConnectionEstablished);
    instanceNumber = 0;
}

bool SingleApplicationPrivate::tryBecomePrimary(bool allowSecondary, int timeout)
{
    memory = new QSharedMemory(blockServerName);
    // The block is new and zeroed when created, and may be attached by a
    // start racing this one before it is locked here: who is primary is
    // decided and marked under one lock, or two starts both become it.
    const bool created = memory->create(sizeof(InstancesInfo));
    if (created || memory->attach()) {
        memory->lock();
        auto *inst = static_cast<InstancesInfo *>(memory->data());
        // A System V block outlives a primary that was killed; a recorded
        // primary that no longer runs is no primary at all.
        if (inst->primary && !Platform::processIsRunning(inst->primaryPid))
            inst->primary = 0;
        if (!inst->primary) {
            inst->primary = 1;
            inst->primaryPid = QCoreApplication::applicationPid();
            if (created)
                inst->secondary = 0;
            memory->unlock();
            startPrimary();
            return true;
        }
        if (allowSecondary) {
            inst->secondary += 1;
            instanceNumber = inst->secondary;
            memory->unlock();
            if (options & SingleApplication::SecondaryNotification)
                connectToPrimary(timeout, SecondaryInstance);
            return true;
        }
        memory->unlock();
    }
    connectToPrimary(timeout, NewInstance);
    return false;
}

void SingleApplicationPrivate::connectToPrimary(int timeout, char connectionType)
{
    if (!socket)
        socket = new QLocalSocket();
    if (socket->state() == QLocalSocket::ConnectedState)
        return;
    // The primary marks itself before it listens: a start in between tries
    // again until the time is up.
    QDeadlineTimer deadline(timeout);
    do {
        if (socket->state() == QLocalSocket::UnconnectedState || socket->state() == QLocalSocket::ClosingState)
            socket->connectToServer(blockServerName);
        if (socket->state() == QLocalSocket::ConnectingState)
            socket->waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())));
        if (socket->state() != QLocalSocket::ConnectedState)
            QThread::msleep(20);
    } while (socket->state() != QLocalSocket::ConnectedState && !deadline.hasExpired());
    if (socket->state() == QLocalSocket::ConnectedState) {
        socket->write(connectionMessage(blockServerName, connectionType, instanceNumber));
        socket->flush();
        socket->waitForBytesWritten(timeout);
    }
}

qint64 SingleApplicationPrivate::primaryPid()
{
    if (!memory || !memory->isAttached())
        return -1;
    memory->lock();
    const qint64 pid = static_cast<InstancesInfo *>(memory->data())->primaryPid;
    memory->unlock();
    return pid;
}

void SingleApplicationPrivate::slotConnectionEstablished()
{
    QLocalSocket *next = server->nextPendingConnection();
    if (!next)
        return;
    if (next->bytesAvailable() == 0)
        next->waitForReadyRead(100);

    const QByteArray name = blockServerName.toLatin1();
    const QByteArray gotName = next->read(name.size());
    char type = 0;
    quint32 instance = 0;
    bool ok = gotName == name && next->getChar(&type)
              && (type == NewInstance || type == SecondaryInstance || type == Reconnect);
    if (ok) {
        const QByteArray raw = next->read(4);
        ok = raw.size() == 4;
        if (ok) {
            instance = qFromLittleEndian<quint32>(raw.constData());
            const QByteArray expected = checksumText(gotName + type + raw);
            ok = next->read(expected.size()) == expected;
        }
    }
    if (!ok) {
        next->close();
        next->deleteLater();
        return;
    }

    connect(next, &QLocalSocket::aboutToClose, this,
            [this, next, instance]() { slotClientConnectionClosed(next, instance); });
    connect(next, &QLocalSocket::readyRead, this, [this, next, instance]() { slotDataAvailable(next, instance); });
    if (type == NewInstance || (type == SecondaryInstance && (options & SingleApplication::SecondaryNotification)))
        emit owner->instanceStarted();
    if (next->bytesAvailable() > 0)
        slotDataAvailable(next, instance);
}

void SingleApplicationPrivate::slotDataAvailable(QLocalSocket *dataSocket, quint32 instance)
{
    emit owner->receivedMessage(instance, dataSocket->readAll());
}

void SingleApplicationPrivate::slotClientConnectionClosed(QLocalSocket *closedSocket, quint32 instance)
{
    if (closedSocket->bytesAvailable() > 0)
        slotDataAvailable(closedSocket, instance);
    closedSocket->deleteLater();
}

SingleApplication::SingleApplication(int &argc, char *argv[], bool allowSecondary, Options options, int timeout)
    : QApplication(argc, argv)
    , d(new SingleApplicationPrivate(this, int(options)))
{
    d->blockServerName = SingleApplicationPrivate::computeBlockServerName(int(options));
    if (!d->tryBecomePrimary(allowSecondary, timeout)) {
        delete d;
        d = nullptr;
        ::exit(EXIT_SUCCESS);
    }
}

SingleApplication::~SingleApplication()
{
    delete d;
}

bool SingleApplication::isPrimary() const { return d->server != nullptr; }
bool SingleApplication::isSecondary() const { return d->server == nullptr; }
quint32 SingleApplication::instanceId() const { return d->instanceNumber; }
qint64 SingleApplication::primaryPid() const { return d->primaryPid(); }
QString SingleApplication::blockServerName() const { return d->blockServerName; }

bool SingleApplication::sendMessage(const QByteArray &message, int timeout)
{
    if (isPrimary())
        return false;
    d->connectToPrimary(timeout, SingleApplicationPrivate::Reconnect);
    if (!d->socket || d->socket->state() != QLocalSocket::ConnectedState)
        return false;
    d->socket->write(message);
    const bool written = d->socket->waitForBytesWritten(timeout);
    d->socket->flush();
    return written;
}
