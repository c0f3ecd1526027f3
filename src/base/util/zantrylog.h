#pragma once

#include <QMutex>
#include <QObject>
#include <QTextStream>

// Process-wide log sink. Every diagnostic of every thread goes through
// logOutput(); the mutex keeps one message's lines together.
class ZantryLog : public QObject
{
    Q_OBJECT
public:
    static ZantryLog *instance();

    QTextStream &stream() { return m_stream; }
    void setStream(QIODevice *device);

    // Attaches the log to "zantry-log.txt" in dir, replacing an earlier run's
    // file, and installs the message handler. Returns false when the file
    // could not be opened (the program then runs on without a log).
    bool openLogFile(const QString &dirPath);
    void close();

    static QString levelWord(QtMsgType type);
    static QString formatLine(const QString &timestamp, QtMsgType type, const QString &piece);

public slots:
    void logOutput(QtMsgType type, const QMessageLogContext &context, const QString &msg);

signals:
    void Fatal();

private:
    ZantryLog() = default;
    QTextStream m_stream;
    QMutex m_mutex;
    QIODevice *m_file = nullptr;
};

void zantryMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);
