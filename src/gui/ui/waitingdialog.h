#pragma once

#include <QDialog>

namespace Ui {
class WaitingDialog;
}
class QTimer;
class TitleBar;

// Offers to wait in the tray while queued; goes away by itself after 30 s,
// and for good once the user said "No Thanks".
class WaitingDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kTouchMs = 30000;

    explicit WaitingDialog(QWidget *parent = nullptr);
    ~WaitingDialog() override;

    bool dontShowAgain() const { return m_dontShowAgain; }
    TitleBar *titleBar() const { return m_titleBar; }

public slots:
    void show();
    void hide();
    void doUntouched();
    void on_remindMeButton_clicked();
    void on_continueButton_clicked();

signals:
    void touchTimedOut();

private:
    Ui::WaitingDialog *ui;
    TitleBar *m_titleBar;
    QTimer *m_touchTimer;
    bool m_dontShowAgain = false;
};
