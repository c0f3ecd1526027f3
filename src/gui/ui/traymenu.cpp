#include "ui/traymenu.h"

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
