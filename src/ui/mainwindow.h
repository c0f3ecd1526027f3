#pragma once

#include "ui/zantrystate.h"

#include <QMainWindow>

namespace Ui {
class MainWindow;
}

// The session controller. One class in several files, one per concern:
// construction here, the flag set in mainwindow_states.cpp, the session flow
// in mainwindow_flow.cpp.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    quint32 state() const { return m_state; }

public slots:
    void bringToFront();

    // Session flags: the only writers of m_state.
    void setStates(quint32 bits);
    void unsetStates(quint32 bits);
    void setStateInitial();
    void setLogin();
    void on_actionLogin_triggered();
    void setLoginAttempted();
    void setLoginFailed();
    void setLoggedIn();
    void setLaddersLoaded();
    void setPlayersLoaded();
    void setMapsLoaded();
    void setMapDLStarted();
    void setMapDLFinished();
    void setMainButtonClicked();
    void unsetMainButtonClicked();
    void setMatchupRequested();
    void unsetNetworkBits();
    void unsetMatchupRequested();
    void setMatchupWaitFor();
    void setMatchupFound();
    void setNetworkFindStarted();
    void setNetworkFindFinished();
    void setNetworkPerfStarted();
    void setNetworkReady();
    void setNetworkFailed();
    void setGameSpawned();
    void setGameFinished();
    void setApiFailed();

    void slotStatesChanged();

signals:
    void newStatesSet();
    void statesUnset();
    void resetTunnel();
    void startPingFlood();

private:
    void showStateNames();

    Ui::MainWindow *ui;
    quint32 m_state = 0;
};
