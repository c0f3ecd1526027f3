#include "ui/confirmreadydialog.h"
#include "ui_confirmreadydialog.h"

#include "ui/framelessdialog.h"
#include "ui/titlebar.h"

#include <QMediaPlayer>
#include <QTimer>

ConfirmReadyDialog::ConfirmReadyDialog(QMediaPlayer *soundPlayer, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ConfirmReadyDialog)
    , m_soundPlayer(soundPlayer)
    , m_updateTimer(new QTimer(this))
    , m_timeoutTimer(new QTimer(this))
{
    ui->setupUi(this);
    m_titleBar = FramelessDialog::decorate(this, ui->confirmReadyFrame, ui->titleBarLayout);
    m_titleBar->setMinimizeVisible(false);
    m_updateTimer->setObjectName(QStringLiteral("updateTimer"));
    m_timeoutTimer->setObjectName(QStringLiteral("timeoutTimer"));
    m_timeoutTimer->setSingleShot(true);
    connect(ui->confirmReadyButton, &QPushButton::clicked, this, &ConfirmReadyDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &ConfirmReadyDialog::reject);
    connect(m_titleBar, &TitleBar::closeButtonClicked, this, &ConfirmReadyDialog::reject);
    connect(m_timeoutTimer, &QTimer::timeout, this, &ConfirmReadyDialog::reject);
    connect(m_updateTimer, &QTimer::timeout, this, &ConfirmReadyDialog::updateTime);
}

ConfirmReadyDialog::~ConfirmReadyDialog()
{
    delete ui;
}

void ConfirmReadyDialog::updateTime()
{
    ui->countDownLabel->setText(QString::number(m_timeoutTimer->remainingTime() / 1000));
    if (m_soundPlayer && m_soundPlayer->state() == QMediaPlayer::StoppedState) {
        m_soundPlayer->setMedia(QUrl(QStringLiteral("qrc:/sounds/reminder.wav")));
        m_soundPlayer->play();
    }
}

void ConfirmReadyDialog::show()
{
    m_updateTimer->start(1000);
    m_timeoutTimer->start(m_countDownSeconds * 1000);
    ui->countDownLabel->setText(QStringLiteral("%1").arg(m_countDownSeconds));
    QDialog::show();
}

void ConfirmReadyDialog::stopTimers()
{
    m_updateTimer->stop();
    m_timeoutTimer->stop();
}

void ConfirmReadyDialog::hide()
{
    stopTimers();
    QDialog::hide();
}

void ConfirmReadyDialog::accept()
{
    stopTimers();
    QDialog::accept();
}

void ConfirmReadyDialog::reject()
{
    stopTimers();
    QDialog::reject();
}
