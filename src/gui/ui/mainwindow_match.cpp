// What the window shows and asks of a match: the ready check, the wait,
// the routes to every player, and the warnings whose answers move the session.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "api/matchstate.h"
#include "net/networkstate.h"
#include "net/router.h"
#include "ui/confirmreadydialog.h"
#include "ui/waitingdialog.h"
#include "ui/routeview.h"
#include "ui/warningdialog.h"

#include <QDebug>
#include <QDesktopServices>
#include <QTimer>
#include <QMediaPlayer>
#include <QUrl>

using namespace Zantry;

void MainWindow::showConfirmReady()
{
    m_confirmReadyDialog->show();
    bringToFront();
    m_soundPlayer->setMedia(QUrl(QStringLiteral("qrc:/sounds/shake_it.wav")));
    m_soundPlayer->play();
}

void MainWindow::maybeShowWaitDialog()
{
    // Not over a question: it comes once the questions are answered.
    m_waitDialogHeld = questionOpen();
    if (!m_waitDialogHeld)
        m_waitingDialog->show();
}

void MainWindow::networkNotReached()
{
    m_routeView->logRoutes();
    if (m_notReachedWarning->isVisible())
        return; // the open one's answer decides
    m_notReachedWarning->setText(QStringLiteral("The other player wasn't ready!") + m_routeView->unreachedDetails());
    // Dismissing this warning declines the next match, not the program.
    if (m_notReachedWarning->ask() == QDialog::Accepted)
        m_session->queueAgain();
    else
        m_session->stayOut();
}

void MainWindow::routesChanged(const RouteReport &report)
{
    // Back at NOTHING the table is empty; the last match stays on view.
    if (report.routerState == Router::NOTHING)
        return;
    m_routeView->showReport(report, m_session->match()->spawnInfo(), m_session->networkState()->tunnelServers());
}

void MainWindow::showRoutes(bool forMatch)
{
    if (forMatch && !m_routeTabShown) {
        m_routeTabShown = true;
        ui->mapWidget->setCurrentWidget(m_routeView);
    } else if (!forMatch && m_routeTabShown) {
        m_routeTabShown = false;
        ui->mapWidget->setCurrentWidget(ui->mapTab);
    }
}

void MainWindow::warningAccepted()
{
    const quint32 s = m_session->state();
    if (s & NO_LADDER_ACCN) {
        QDesktopServices::openUrl(QUrl(m_siteUrl + QStringLiteral("/account?tutorial=true")));
        qDebug() << "Closing 4";
        closeAfterWarning();
    } else if (s & PWATCH_TRIGGERED) {
        m_session->clearPause();
    } else if (s & API_FAILED) {
        qDebug() << "Closing 5";
        closeAfterWarning();
    }
}

void MainWindow::closeAfterWarning()
{
    // The warning is still inside its own exec() here; closing at once would
    // ask the close question through the same dialog, which refuses a second
    // exec() and so refuses the close.
    QTimer::singleShot(0, this, &QWidget::close);
}
