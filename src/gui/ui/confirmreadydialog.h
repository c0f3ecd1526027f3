#pragma once

#include <QDialog>

namespace Ui {
class ConfirmReadyDialog;
}
class QMediaPlayer;
class QTimer;
class TitleBar;

// The ready check: counts down from 20 s, chimes while it counts, and
// declines by itself when the time is up.
class ConfirmReadyDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kCountDownSeconds = 20;

    // The reminder chimes through soundPlayer, the window's own.
    explicit ConfirmReadyDialog(QMediaPlayer *soundPlayer, QWidget *parent = nullptr);
    ~ConfirmReadyDialog() override;

    TitleBar *titleBar() const { return m_titleBar; }

public slots:
    void updateTime();
    void show();
    void hide();
    void accept() override;
    void reject() override;

private:
    void stopTimers();

    Ui::ConfirmReadyDialog *ui;
    QMediaPlayer *m_soundPlayer;
    TitleBar *m_titleBar;
    QTimer *m_updateTimer;
    QTimer *m_timeoutTimer;
    int m_countDownSeconds = kCountDownSeconds;
};
