#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects every diagnostic while alive (and still passes it on), so tests
// can assert on the program's log texts.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    QStringList messages() const;
    bool contains(const QString &text) const; // any message containing text
    int count(const QString &text) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg);
    QtMessageHandler m_previous;
    mutable QMutex m_mutex;
    QStringList m_messages;
};
