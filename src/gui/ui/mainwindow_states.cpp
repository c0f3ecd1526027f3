#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "util/settingsstore.h"

#include <QDebug>
#include <QStatusBar>

using namespace Zantry;

void MainWindow::showStateNames()
{
    ui->statusBar->showMessage(QString::fromLatin1(stateNames(m_state)));
}

void MainWindow::setStates(quint32 bits)
{
    const quint32 updated = m_state | bits;
    if (updated == m_state) {
        qDebug().noquote() << "Set to state ignored: 0x" + QString::number(bits, 16);
    } else {
        const quint32 old = m_state;
        m_state = updated;
        qDebug().noquote() << QByteArray("old state = " + stateNames(old) + " new state =" + stateNames(updated));
        emit newStatesSet();
    }
    showStateNames();
}

void MainWindow::unsetStates(quint32 bits)
{
    const quint32 updated = m_state & ~bits;
    if (updated == m_state) {
        qDebug().noquote() << "unSet to state ignored: 0x" + QString::number(bits, 16);
    } else {
        const quint32 old = m_state;
        m_state = updated;
        emit statesUnset();
        qDebug().noquote() << QByteArray("unset: old state = " + stateNames(old) + " new state = " + stateNames(updated));
    }
    showStateNames();
}

void MainWindow::setStateInitial()
{
    unsetStates(STATE_ALL);
    setStates(INITIAL);
}

void MainWindow::setLogin()
{
    unsetStates(INITIAL | API_FAILED | LOGIN_FAIL | LOGIN_ATTEMPTED);
    setStates(LOGIN);
}

void MainWindow::on_actionLogin_triggered()
{
    setLogin();
}

void MainWindow::setLoginAttempted()
{
    unsetStates(LOGIN | LOGIN_FAIL);
    setStates(LOGIN_ATTEMPTED);
}

void MainWindow::setLoginFailed()
{
    unsetStates(API_FAILED | LOGIN_ATTEMPTED);
    setStates(LOGIN_FAIL);
}

void MainWindow::setLoggedIn()
{
    unsetStates(API_FAILED | LOGIN | LOGIN_ATTEMPTED | LOGIN_FAIL);
    setStates(LOGGED_IN);
    // The login was just stored: said once per run when it cannot be kept.
    if (m_settingsNote.isEmpty()) {
        const QString problem = SettingsStore::problem();
        if (!problem.isEmpty()) {
            qDebug().noquote() << "Settings cannot be saved: " + problem;
            m_settingsNote = QStringLiteral("Settings cannot be saved (%1): the login and choices last only until "
                                            "Zantry closes.")
                                 .arg(problem);
        }
    }
}

void MainWindow::setLaddersLoaded() { setStates(LADDERS_LOADED); }
void MainWindow::setPlayersLoaded() { setStates(PLAYERS_LOADED); }
void MainWindow::setMapsLoaded() { setStates(MAPS_LOADED); }

void MainWindow::setMapDLStarted()
{
    unsetStates(MAP_DLSCAN_FINISHED);
    setStates(MAP_DLSCAN_STARTED);
}

void MainWindow::setMapDLFinished()
{
    unsetStates(MAP_DLSCAN_STARTED);
    setStates(MAP_DLSCAN_FINISHED);
}

void MainWindow::setMainButtonClicked() { setStates(MAIN_BUTTON_CLICKED); }
void MainWindow::unsetMainButtonClicked() { unsetStates(MAIN_BUTTON_CLICKED); }
void MainWindow::setMatchupRequested() { setStates(MATCHUP_REQUESTED); }

void MainWindow::unsetNetworkBits()
{
    unsetStates(NETWORK_FIND_STARTED | NETWORK_FIND_FINISHED | NETWORK_PERF_STARTED | NETWORK_READY);
}

void MainWindow::unsetMatchupRequested()
{
    unsetStates(MATCHUP_REQUESTED | MATCHUP_WAITFOR | MATCHUP_FOUND);
    unsetNetworkBits();
    emit newStatesSet();
}

void MainWindow::setMatchupWaitFor()
{
    unsetStates(MATCHUP_REQUESTED);
    setStates(MATCHUP_WAITFOR);
}

void MainWindow::setMatchupFound()
{
    unsetStates(MATCHUP_REQUESTED | MATCHUP_WAITFOR);
    setStates(MATCHUP_FOUND);
}

void MainWindow::setNetworkFindStarted() { setStates(NETWORK_FIND_STARTED); }

void MainWindow::setNetworkFindFinished()
{
    unsetStates(NETWORK_FIND_STARTED);
    setStates(NETWORK_FIND_FINISHED);
}

void MainWindow::setNetworkPerfStarted()
{
    unsetStates(NETWORK_FIND_FINISHED);
    setStates(NETWORK_PERF_STARTED);
}

void MainWindow::setNetworkReady()
{
    unsetStates(NETWORK_FIND_STARTED | NETWORK_FIND_FINISHED | NETWORK_PERF_STARTED);
    setStates(NETWORK_READY);
}

void MainWindow::setNetworkFailed()
{
    unsetStates(MATCHUP_FOUND | NETWORK_FIND_STARTED | NETWORK_FIND_FINISHED | NETWORK_PERF_STARTED);
    emit newStatesSet();
}

void MainWindow::setGameSpawned() { setStates(GAME_SPAWNED); }

void MainWindow::setGameFinished()
{
    unsetStates(GAME_SPAWNED);
    setStates(GAME_FINISHED);
}

void MainWindow::setApiFailed()
{
    unsetStates(STATE_ALL);
    setStates(API_FAILED);
}
