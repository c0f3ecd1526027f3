#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    // The flow never runs inside the code that changed the flags.
    connect(this, &MainWindow::newStatesSet, this, &MainWindow::slotStatesChanged, Qt::QueuedConnection);
    show();
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::bringToFront()
{
    show();
    showNormal();
    raise();
    activateWindow();
}
