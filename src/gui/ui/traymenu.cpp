#include "ui/traymenu.h"

#include "session/session.h"

#include <QSysInfo>
#include <QSystemTrayIcon>

namespace {
int s_trayOverride = -1;
}

TrayMenu::TrayMenu(QWidget *parent)
    : QMenu(parent)
{
    m_status = addAction(QString());
    m_status->setEnabled(false);
    m_sessionEnd = addSeparator();
    addAction(tr("Show Zantry"), this, &TrayMenu::showRequested)->setObjectName(QStringLiteral("trayShowAction"));
    addAction(tr("Quit"), this, &TrayMenu::quitRequested)->setObjectName(QStringLiteral("trayQuitAction"));

    m_icon = new QSystemTrayIcon(parent);
    // The coloured mark suits the light task bar of Windows 10; elsewhere the
    // tile version stays readable on any panel.
    const bool windows10 = QSysInfo::prettyProductName().contains(QLatin1String("Windows 10"));
    m_icon->setIcon(
        QIcon(windows10 ? QStringLiteral(":/images/logo-icon.png") : QStringLiteral(":/images/dark_tray_icon.png")));
    m_icon->setContextMenu(this);
    // One click brings the window back, as on every desktop.
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit showRequested();
    });
}

void TrayMenu::follow(Session *session)
{
    // The same as Cancel on the main button.
    auto *leave = new QAction(tr("Leave Queue"), this);
    leave->setObjectName(QStringLiteral("leaveQueueAction"));
    leave->setVisible(false);
    addSessionAction(leave);
    connect(leave, &QAction::triggered, session, &Session::cancelFindMatch);
    connect(session, &Session::phaseShown, leave,
            [leave](Session::Phase phase) { leave->setVisible(phase == Session::Phase::Queued); });
}

bool TrayMenu::trayAvailable()
{
    return s_trayOverride >= 0 ? s_trayOverride > 0 : QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayMenu::setTrayAvailableForTest(int available)
{
    s_trayOverride = available;
}

void TrayMenu::setStatusLine(const QString &text)
{
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

QString TrayMenu::statusLine() const
{
    return m_status->text();
}

void TrayMenu::addSessionAction(QAction *action)
{
    insertAction(m_sessionEnd, action);
}
