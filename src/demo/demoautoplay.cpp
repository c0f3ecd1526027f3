#include "demo/demoautoplay.h"

#include "api/lorvaneapi.h"
#include "ui/confirmreadydialog.h"
#include "demo/demoscreenshots.h"
#include "ui/mainwindow.h"
#include "ui/warningdialog.h"
#include "session/zantrystate.h"

#include <QApplication>
#include <QDebug>
#include <QPushButton>

using namespace Zantry;

namespace {
constexpr int kPollMs = 250;
} // namespace

DemoAutoplay::DemoAutoplay(MainWindow *window, const QString &shots) : QObject(window), m_window(window)
{
    qDebug() << "Demo: autoplay on";
    connect(window->session(), &Session::phaseShown, this, &DemoAutoplay::statesChanged, Qt::QueuedConnection);
    connect(&m_dialogPoll, &QTimer::timeout, this, &DemoAutoplay::pollDialog);
    m_dialogPoll.start(kPollMs);
    if (!shots.isEmpty()) {
        qDebug().noquote() << "Demo: screenshots in " + shots;
        m_shots.reset(new DemoScreenshots(shots));
    }
}

DemoAutoplay::~DemoAutoplay() = default;

void DemoAutoplay::capture(const QString &stage)
{
    if (m_shots)
        m_shots->capture(stage, m_window);
}

void DemoAutoplay::captureStage()
{
    const quint32 s = m_window->session()->state();
    if (s == m_lastState)
        return;
    capture(DemoScreenshots::stageName(m_lastState, s));
    m_lastState = s;
}

void DemoAutoplay::statesChanged(Session::Phase phase)
{
    if (!m_apiWired) {
        if (LorvaneAPI *api = m_window->session()->api()) {
            m_apiWired = true;
            // Taken or kept for later, the match's result is dealt with.
            const auto done = [this]() {
                m_resultPosted = true;
                quitWhenDone();
            };
            connect(api, &LorvaneAPI::gameStatsPosted, this, done);
            connect(api, &LorvaneAPI::resultUploadFailed, this, done);
        }
    }
    const quint32 s = m_window->session()->state();
    // After the events already queued: the session flow may have changed the
    // set again, and its own run for that change must draw the window first.
    if (m_shots)
        QTimer::singleShot(0, this, &DemoAutoplay::captureStage);
    // A game that crashes at once may end before a run of the flow saw it
    // spawned; the end of the game is always shown.
    if ((s & GAME_SPAWNED) || phase == Session::Phase::InGame || phase == Session::Phase::GameOver)
        m_played = true;
    if (s != READY_TO_QUEUE)
        return;
    if (m_played) {
        quitWhenDone();
    } else if (!m_pressed) {
        m_pressed = true;
        QTimer::singleShot(kPauseMs, this, &DemoAutoplay::pressMainButton);
    }
}

void DemoAutoplay::pressMainButton()
{
    auto *button = m_window->findChild<QPushButton *>(QStringLiteral("mainButton"));
    if (!button || !button->isEnabled()) {
        m_pressed = false; // the next ready run tries again
        return;
    }
    qDebug() << "Demo: pressing the main button";
    button->click();
}

void DemoAutoplay::pollDialog()
{
    // The ready check is accepted; a warning (the other player not reached,
    // the close question) is answered as a user pressing its default would.
    QDialog *dialog = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if ((qobject_cast<ConfirmReadyDialog *>(w) || qobject_cast<WarningDialog *>(w)) && w->isVisible())
            dialog = static_cast<QDialog *>(w);
    }
    if (!dialog) {
        m_dialogSeenMs = 0;
        return;
    }
    m_dialogSeenMs += kPollMs;
    if (m_dialogSeenMs < kPauseMs)
        return;
    const bool warning = qobject_cast<WarningDialog *>(dialog);
    capture(warning ? QStringLiteral("warning") : QStringLiteral("ready-check"));
    qDebug() << (warning ? "Demo: answering the warning" : "Demo: accepting the ready check");
    m_dialogSeenMs = 0;
    dialog->accept();
}

void DemoAutoplay::quitWhenDone()
{
    if (!m_played || m_window->session()->state() != READY_TO_QUEUE)
        return;
    if (m_resultPosted) {
        captureStage();
        qDebug() << "Demo: match done, quitting";
        QCoreApplication::quit();
    } else if (!m_quitting) {
        m_quitting = true;
        QTimer::singleShot(kResultWaitMs, this, []() {
            qDebug() << "Demo: no answer to the result upload, quitting";
            QCoreApplication::quit();
        });
    }
}
