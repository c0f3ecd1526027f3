#pragma once

#include "session/session.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

class DemoScreenshots;
class MainWindow;

// The demo's hands (zantry-demo --demo-autoplay, for "scripts/run
// --unattended"): it presses the main button once the window is ready,
// accepts the ready check, and quits once the match's result has been
// uploaded. Given a folder, it saves a picture of each stage there.
class DemoAutoplay : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPauseMs = 1500;         // each stage stays on screen this long
    static constexpr int kResultWaitMs = 15000;   // quit even if the upload never answers

    DemoAutoplay(MainWindow *window, const QString &screenshotDir);
    ~DemoAutoplay() override;

private:
    void statesChanged(Session::Phase phase);
    void pollDialog();
    void pressMainButton();
    void quitWhenDone();
    void capture(const QString &stage);
    void captureStage();

    MainWindow *m_window;
    std::unique_ptr<DemoScreenshots> m_shots;
    quint32 m_lastState = 0;
    QTimer m_dialogPoll;
    int m_dialogSeenMs = 0;
    bool m_pressed = false;
    bool m_played = false;
    bool m_resultPosted = false;
    bool m_quitting = false;
    bool m_apiWired = false;
};
