#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a queued quitRequested() through a socket
// pair, the only async-signal-safe way into the event loop.
class SignalBridge : public QObject
{
    Q_OBJECT
public:
    static SignalBridge *instance();
    static void install();

signals:
    void quitRequested();

private:
    SignalBridge();
    QSocketNotifier *m_notifier = nullptr;
};
