#pragma once

#include <QObject>
#include <QPixmap>

namespace Ui {
class MainWindow;
}
class QTableWidgetItem;
class Session;

// The ladder, account and side boxes and the map table with its preview:
// what the player picks before queueing, kept for the next start.
class LadderSelection : public QObject
{
    Q_OBJECT
public:
    // After the session has started: it listens to its service client.
    LadderSelection(Ui::MainWindow *form, Session *session, QObject *parent = nullptr);
    // Widths and policies that keep the rows in place while choices change
    // and the map table one Tab stop; from the window's construction.
    static void steadyLayout(Ui::MainWindow *ui);

    void populateLadderBox();
    void populatePlayerBox();
    void updateCurrentPlayer(int index);
    void populateMaps();
    void doSideChanged();
    void doMapFactionChanged(int index);
    void setMapView(QTableWidgetItem *current, QTableWidgetItem *previous);
    // The match's map, by its name, selected in the table.
    void selectMap(const QString &name);

private:
    Ui::MainWindow *ui;
    Session *m_session;
    QPixmap m_defaultMapImage;
    bool m_mapFitToView = false;
};
