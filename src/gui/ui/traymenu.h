#pragma once

#include <QMenu>

class QAction;
class QSystemTrayIcon;
class Session;

// The tray icon's menu: a status line, the session's own entries, then
// Show and Quit.
class TrayMenu : public QMenu
{
    Q_OBJECT
public:
    explicit TrayMenu(QWidget *parent = nullptr);

    // Whether the desktop shows tray icons (GNOME does not by default).
    // Without one nothing may hide into the tray: there would be no way back.
    static bool trayAvailable();
    // Tests on a platform without a tray reach the tray's side through this;
    // -1 asks the platform again.
    static void setTrayAvailableForTest(int available);

    void setStatusLine(const QString &text);
    QString statusLine() const;
    // Session entries (Leave Queue while queued) go here, between the status
    // line and Show.
    void addSessionAction(QAction *action);
    // The icon this menu belongs to; hidden until the window goes to the tray.
    QSystemTrayIcon *icon() const { return m_icon; }
    // Leave Queue while the session is queued.
    void follow(Session *session);

signals:
    void showRequested();
    void quitRequested();

private:
    QAction *m_status = nullptr;
    QAction *m_sessionEnd = nullptr;
    QSystemTrayIcon *m_icon = nullptr;
};
