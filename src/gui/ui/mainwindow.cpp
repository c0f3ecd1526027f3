#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "util/endpoints.h"
#include "util/settings.h"
#include "ui/busywidget.h"
#include "ui/confirmreadydialog.h"
#include "ui/framelessdialog.h"
#include "ui/gamefolderquestion.h"
#include "ui/password.h"
#include "ui/routeview.h"
#include "ui/statusline.h"
#include "ui/titlebar.h"
#include "ui/waitingdialog.h"
#include "ui/warningdialog.h"
#include "watch/processwatcher.h"
#include "zantryversion.h"

#include <QDebug>
#include <QFile>
#include <QFileDialog>
#include <QMediaPlayer>
#include <QMenu>
#include <QMovie>
#include <QSizeGrip>
#include <QTimer>

bool MainWindow::s_closeConfirmed = false;

MainWindow::MainWindow(const QDir &dataDir, QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , m_dataDir(dataDir)
{
    // Owned objects, in the order the rest of the window relies on.
    m_titleBar = new TitleBar(this);
    const Endpoints &endpoints = Endpoints::instance();
    m_siteUrl = endpoints.siteUrl();
    m_apiUrl = endpoints.apiUrl();
    m_ladderUrl = endpoints.siteLink(QStringLiteral("/ladder")).toString();
    m_busyWidget = new BusyWidget(this);
    m_password = new Password(this);
    m_waitingDialog = new WaitingDialog(this);
    const auto question = [this](const QString &text, QDialogButtonBox::StandardButtons buttons) {
        auto *dialog = new WarningDialog(text, buttons, this);
        connect(dialog, &QDialog::finished, this, &MainWindow::questionClosed);
        return dialog;
    };
    m_closeQuestion = question(tr("Are you sure you want to close?"),
                               QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Discard);
    m_signUpQuestion =
        question(QStringLiteral("You don't have a ladder account for this game.\nWould you like to sign up?"),
                 QDialogButtonBox::Yes | QDialogButtonBox::Cancel);
    m_signUpQuestion->setWindowModality(Qt::ApplicationModal);
    m_notReachedWarning = question(QStringLiteral("The other player wasn't ready!"), QDialogButtonBox::Ok);
    m_pwatchNotice = question(
        QStringLiteral("You've disabled Process Watcher. It can be permanently disabled in the Settings menu."),
        QDialogButtonBox::Ok);
    m_fatalWarning = question(QString(), QDialogButtonBox::Close);
    m_fatalWarning->setWindowModality(Qt::ApplicationModal);
    m_soundPlayer = new QMediaPlayer(this);
    m_soundPlayer->setObjectName(QStringLiteral("soundPlayer"));
    m_confirmReadyDialog = new ConfirmReadyDialog(m_soundPlayer, this);
    Session::Options options;
    options.mapPort = true;
    m_session = new Session(options, this);
    m_folderQuestion = new GameFolderQuestion(m_session, this);
    connect(m_folderQuestion->dialog(), &QDialog::finished, this, &MainWindow::questionClosed);
    connect(m_folderQuestion, &GameFolderQuestion::chosen, this, &MainWindow::gameFolderChosen);
    connect(m_folderQuestion, &GameFolderQuestion::closeWanted, this, &MainWindow::closeAfterWarning);
    connect(m_folderQuestion, &GameFolderQuestion::noticeWanted, this, &MainWindow::showNotice);
    m_queuedCloseTimer = new QTimer(this);
    m_queuedCloseTimer->setSingleShot(true);
    connect(m_queuedCloseTimer, &QTimer::timeout, this, &QWidget::close);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    ui->setupUi(this);
    new StatusLine(ui->statusLabel, ui->zantryStatsLabel, m_session, this);
    if (FramelessDialog::translucencyWorks())
        setAttribute(Qt::WA_TranslucentBackground);
    else
        centralWidget()->layout()->setContentsMargins(0, 0, 0, 0); // no glow to leave room for
    ui->versionLabel->setText(QStringLiteral("v" ZANTRY_VERSION));
    ui->sizeGripLayout->addWidget(new QSizeGrip(this), 0, Qt::AlignBottom | Qt::AlignRight);
    setWindowIcon(QIcon(QStringLiteral(":/images/logo-icon.png")));
    ui->titleBarLayout->addWidget(m_titleBar);
    addAction(ui->actionSettings);

    connect(m_titleBar, &TitleBar::closeButtonClicked, this, &QWidget::close);
    connect(m_titleBar, &TitleBar::minimizeClicked, this, [this]() { minimizeToTray(true); });
    connect(m_busyWidget, &BusyWidget::minimizeClicked, this, [this]() { minimizeToTray(true); });
    // The session's own warnings: their answers move the session or end it.
    for (WarningDialog *warning : {m_signUpQuestion, m_fatalWarning}) {
        connect(warning, &QDialog::accepted, this, &MainWindow::warningAccepted);
        connect(warning, &QDialog::rejected, this, [this]() {
            qDebug() << "Closing 6";
            closeAfterWarning();
        });
    }
    connect(m_pwatchNotice, &QDialog::accepted, this, &MainWindow::warningAccepted);
    m_titleBar->show();
    m_busyWidget->hide();
    m_confirmReadyDialog->hide();

    const QString customLoader = m_dataDir.filePath(QStringLiteral("loader.gif"));
    m_loader = new QMovie(QFile::exists(customLoader) ? customLoader : QStringLiteral(":/images/loader.gif"), {},
                          this);
    m_busyWidget->setMovie(m_loader);
    m_loader->start();
    ui->lorvaneLabel->setPixmap(
        QPixmap(QStringLiteral(":/images/logo-icon.png")).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    connect(ui->lorvaneLabel, &ClickableLabel::clicked, this, &MainWindow::linkToLadder);

    // Only the map and settings tabs are for users.
    ui->mapWidget->setCurrentWidget(ui->mapTab);
    ui->mapWidget->removeTab(2);
    ui->mapWidget->removeTab(2);
    m_routeView = new RouteView;
    ui->mapWidget->insertTab(1, m_routeView, tr("Connection"));
    ui->statusBar->hide();
    ui->urlEdit->hide();
    ui->urlSetButton->hide();
    ui->ladderUrlLabel->hide();
    setupDesktop();

    placeWindow();
    // The session flow shows the window once the user is logged in.
    hide();

    FramelessDialog::addShadow(ui->centralBodyFrame, 30);

    connect(m_session, &Session::phaseShown, this, &MainWindow::showPhase);
    connect(m_session, &Session::stateChanged, this,
            [this](quint32 state) { ui->statusBar->showMessage(QString::fromLatin1(Zantry::stateNames(state))); });
    QTimer::singleShot(0, this, &MainWindow::doRestOfSetup);
}

MainWindow::~MainWindow()
{
    // The session and its game go before the widgets it reports to.
    delete m_session;
    delete ui;
}

void MainWindow::placeWindow()
{
    show();
    if (const auto placement = Settings::placement()) {
        restoreGeometry(placement->window);
        restoreState(placement->windowState, 0);
        m_password->restoreGeometry(placement->passwordEntry);
        // Saved on a larger screen, or on one no longer there.
        FramelessDialog::keepOnScreen(this);
        FramelessDialog::keepOnScreen(m_password);
        return;
    }
    // The login form is what a new player sees first: in the middle too.
    FramelessDialog::centerOnScreen(m_password);
    FramelessDialog::centerOnScreen(this);
}
