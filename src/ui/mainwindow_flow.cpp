#include "ui/mainwindow.h"

#include <QDebug>

using namespace Zantry;

void MainWindow::slotStatesChanged()
{
    qDebug() << "Running States changed: " << m_state;
}

void MainWindow::cancelFindMatch()
{
    // Resets the router and asks the service client to leave the queue, once
    // both exist; the client's cancelledFindMatch() then clears the request.
}

void MainWindow::pWatchTriggered()
{
    if (!(m_state & (MATCHUP_REQUESTED | MATCHUP_WAITFOR | MATCHUP_FOUND)) || (m_state & GAME_SPAWNED))
        return;
    setStates(PWATCH_TRIGGERED);
    cancelFindMatch();
    minimizeToTray(false);
}

void MainWindow::pWatchCleared()
{
    if (m_state & PWATCH_TRIGGERED) {
        // Back into the queue as if the main button had been pressed.
        unsetStates(PWATCH_TRIGGERED);
        setStates(MAIN_BUTTON_CLICKED);
    }
    show();
}
