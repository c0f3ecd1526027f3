#include "util/zantrylog.h"
#include "zantryversion.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QStringList>

ZantryLog *ZantryLog::instance()
{
    static ZantryLog *log = new ZantryLog; // thread-safe one-time initialisation; lives to process exit
    return log;
}

void ZantryLog::setStream(QIODevice *device)
{
    QMutexLocker lock(&m_mutex);
    m_stream.setDevice(device);
}

bool ZantryLog::openLogFile(const QString &dirPath)
{
    auto *file = new QFile(QDir(dirPath).filePath(QStringLiteral("zantry-log.txt")), this);
    if (file->exists())
        file->remove();
    const bool ok = file->open(QIODevice::ReadWrite);
    {
        QMutexLocker lock(&m_mutex);
        m_stream.setDevice(file);
        m_stream.setCodec("UTF-8");
        m_file = file;
    }
    qInstallMessageHandler(zantryMessageHandler);
    return ok;
}

void ZantryLog::close()
{
    QMutexLocker lock(&m_mutex);
    m_stream.flush();
    m_stream.setDevice(nullptr);
    if (m_file) {
        m_file->close();
        m_file->deleteLater();
        m_file = nullptr;
    }
}

QString ZantryLog::levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug:");
    case QtWarningMsg:
        return QStringLiteral("Warning:");
    case QtCriticalMsg:
        return QStringLiteral("Critical:");
    case QtFatalMsg:
        return QStringLiteral("Fatal:");
    case QtInfoMsg:
        return QStringLiteral("Info:");
    }
    return QStringLiteral("Unknown:");
}

QString ZantryLog::formatLine(const QString &timestamp, QtMsgType type, const QString &piece)
{
    return QStringLiteral("%1: %2 " ZANTRY_VERSION ": %3").arg(timestamp, levelWord(type), piece);
}

void ZantryLog::logOutput(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    QMutexLocker lock(&m_mutex);
    if (!m_stream.device())
        return;
    const QStringList pieces = msg.split(QLatin1Char('\n'));
    for (const QString &piece : pieces) {
        const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        m_stream << formatLine(stamp, type, piece) << '\n';
        m_stream.flush();
    }
}

void zantryMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    ZantryLog::instance()->logOutput(type, context, msg);
}
