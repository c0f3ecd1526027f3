#include "ui/waitingdialog.h"
#include "ui_waitingdialog.h"

#include "ui/framelessdialog.h"
#include "ui/titlebar.h"
#include "ui/traymenu.h"

#include <QTimer>

WaitingDialog::WaitingDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::WaitingDialog)
    , m_touchTimer(new QTimer(this))
{
    ui->setupUi(this);
    m_titleBar = FramelessDialog::decorate(this, ui->waitFrame, ui->titleBarLayout);
    m_touchTimer->setObjectName(QStringLiteral("touchTimer"));
    connect(m_titleBar, &TitleBar::minimizeClicked, this, &WaitingDialog::accept);
    connect(m_titleBar, &TitleBar::closeButtonClicked, this, &WaitingDialog::reject);
    connect(m_touchTimer, &QTimer::timeout, this, &WaitingDialog::doUntouched);
    // The title bar's close answers too; a timer left running would report
    // an untouched dialog half a minute after it was closed.
    connect(this, &QDialog::finished, m_touchTimer, &QTimer::stop);
}

WaitingDialog::~WaitingDialog()
{
    delete ui;
}

void WaitingDialog::show()
{
    // It offers the tray: without one there is nothing to offer.
    if (m_dontShowAgain || !TrayMenu::trayAvailable())
        return;
    m_touchTimer->start(kTouchMs);
    QDialog::show();
}

void WaitingDialog::hide()
{
    m_touchTimer->stop();
    QDialog::hide();
}

void WaitingDialog::doUntouched()
{
    m_touchTimer->stop();
    QDialog::hide();
    emit touchTimedOut();
}

void WaitingDialog::on_remindMeButton_clicked()
{
    m_touchTimer->stop();
    accept();
}

void WaitingDialog::on_continueButton_clicked()
{
    m_touchTimer->stop();
    m_dontShowAgain = true;
    reject();
}
