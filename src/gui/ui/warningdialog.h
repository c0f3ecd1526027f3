#pragma once

#include <QDialog>
#include <QDialogButtonBox>

namespace Ui {
class WarningDialog;
}
class QAbstractButton;
class QTimer;
class TitleBar;

// A message with a set of standard buttons. Asked for Discard it offers
// "Log Out" instead and remembers whether that was chosen.
class WarningDialog : public QDialog
{
    Q_OBJECT
public:
    explicit WarningDialog(const QString &text, QWidget *parent = nullptr);
    WarningDialog(const QString &text, QDialogButtonBox::StandardButtons buttons, QWidget *parent = nullptr);
    ~WarningDialog() override;

    QString text() const;
    void setText(const QString &text);
    void setButtons(QDialogButtonBox::StandardButtons buttons);
    void setButtonText(QDialogButtonBox::StandardButton button, const QString &text);
    // Accepts by itself after ms milliseconds unless answered first.
    void startAutoAccept(int ms);
    // Runs the question modally and returns its result; kNotAsked, without
    // showing anything, while it is already open: a question asked twice
    // must not read as answered.
    int ask();
    static constexpr int kNotAsked = -1;
    bool logOut() const { return m_logOut; }
    TitleBar *titleBar() const { return m_titleBar; }

public slots:
    void accept() override;
    void reject() override;
    void maybeLogOut(QAbstractButton *button);
    void on_clearDataLabel_linkActivated(const QString &link);

protected:
    void showEvent(QShowEvent *event) override;

private:
    Ui::WarningDialog *ui;
    TitleBar *m_titleBar;
    QTimer *m_autoAcceptTimer;
    bool m_logOut = false;
};
