// What a desktop expects around the window: notifications that reach a
// player who looks elsewhere, the tray where there is one, the account
// line, keyboard reach and windows that stay on screen.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "api/lorvaneapi.h"
#include "notify/desktopnotifier.h"
#include "ui/accountline.h"
#include "ui/confirmreadydialog.h"
#include "ui/password.h"
#include "ui/ladderselection.h"
#include "ui/settingstab.h"
#include "ui/traymenu.h"

#include <QApplication>
#include <QDebug>
#include <QScrollArea>
#include <QShortcut>

using namespace Zantry;

void MainWindow::setupDesktop()
{
    m_notifier = new DesktopNotifier(this, this);
    connect(m_notifier, &DesktopNotifier::activated, this, &MainWindow::bringToFront);

    m_tray = new TrayMenu(this);
    m_tray->follow(m_session);
    connect(m_tray, &TrayMenu::showRequested, this, [this]() {
        bringToFront();
        m_tray->icon()->setVisible(true);
    });
    connect(m_tray, &TrayMenu::quitRequested, this, [this]() {
        // The close question needs its window on screen.
        bringToFront();
        close();
    });

    auto *account = new AccountLine(this);
    account->hide();
    ui->bottomLayout->insertWidget(2, account);
    account->follow(m_session);
    LadderSelection::steadyLayout(ui);
    SettingsTab::scrollOnShortScreens(ui);

    ui->mainButton->setFocusPolicy(Qt::StrongFocus);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        new QShortcut(QKeySequence(key), ui->mainButton, [this]() { ui->mainButton->animateClick(); },
                      Qt::WidgetShortcut);
    }
}
