#include "ui/mainwindow.h"

#include <QDebug>

void MainWindow::slotStatesChanged()
{
    qDebug() << "Running States changed: " << m_state;
}
