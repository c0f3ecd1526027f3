#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QVariantMap>

class QDialog;
class QWidget;
class Session;

// Reaches a player who is not looking at the window: notifications through
// the desktop's notification service (org.freedesktop.Notifications on the
// session bus). Without a bus or a service it says so once in the log and
// does nothing else.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    enum Urgency : uchar { Low = 0, Normal = 1, Critical = 2 };

    // window: notices other than the ready check are left out while it is
    // the active window, where the player sees them already.
    explicit DesktopNotifier(QWidget *window, QObject *parent = nullptr);

    // Critical, never expires, with an action that brings the window up.
    void readyCheck();
    // The ready check was answered or ran out: its notification goes.
    void withdrawReadyCheck();
    void matchFound(const QString &mapName);
    void resultUploaded();
    // kept: the result waits in the outbox and is sent again.
    void resultNotTaken(bool kept);
    void pausedByWatcher();
    // Tells of the session's ready check (answered in readyDialog), match,
    // result and pause.
    void follow(Session *session, QDialog *readyDialog);

signals:
    // The player clicked a notification or its "Show Zantry" action.
    void activated();

private slots:
    // Bus signals connect by name only; the parameter types must match.
    void onActionInvoked(uint id, const QString &action);
    void onClosed(uint id, uint reason);

private:
    void send(const QString &summary, const QString &body, Urgency urgency, int timeoutMs, bool critical);
    void unavailable(const QString &why);

    QPointer<QWidget> m_window;
    bool m_connected = false;
    bool m_saidUnavailable = false;
    QSet<uint> m_shown;
    uint m_readyCheckId = 0;
    bool m_readyCheckWanted = false;
};
