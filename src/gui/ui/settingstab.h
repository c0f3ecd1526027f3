#pragma once

#include <QDir>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>

namespace Ui {
class MainWindow;
}
class QFileDialog;
class QMediaPlayer;
class QPushButton;
class Session;

// The settings tab: the Wine prefix, peer-to-peer, the public address, the
// process watch list, the volume, the tunnel servers and the style sheet.
// Each change is stored at once.
class SettingsTab : public QObject
{
    Q_OBJECT
public:
    // After the session has started: it fills in the watcher and tunnels.
    SettingsTab(Ui::MainWindow *form, Session *session, QMediaPlayer *soundPlayer, const QDir &dataDir,
                QWidget *window);
    // On a short screen (1024x600) the settings scroll rather than squeeze;
    // from the window's construction.
    static void scrollOnShortScreens(Ui::MainWindow *ui);

signals:
    // Something the player should read (a folder that is no prefix, no browser).
    void noticeWanted(const QString &text);
    void styleChanged(const QString &style);
    // The watched programs are gone and the queue is taken up again.
    void watcherCleared();

private:
    void setupWinePrefix(QWidget *window);
    void setupAddress();
    void setupWatchList();
    void setupWatchListButtons();
    void winePrefixChosen(const QString &folder);
    void addWatch();
    void removeWatch();
    void updateWatchedProcs();
    QSet<QString> listedProcs() const;
    void toggleAddressShown();
    void populateTunnelServers();
    void saveStyle();

    Ui::MainWindow *ui;
    Session *m_session;
    QMediaPlayer *m_soundPlayer;
    QDir m_dataDir;
    QFileDialog *m_folderDialog = nullptr;
    QPushButton *m_undoWatchButton = nullptr;
    QList<QPair<int, QString>> m_removedWatches; // row and name, last removed last
};
