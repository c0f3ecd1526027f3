#pragma once

#include <QDialog>

namespace Ui {
class Password;
}
class TitleBar;
struct ServiceFault;

// The login form: e-mail address and password, links to the ladder site.
class Password : public QDialog
{
    Q_OBJECT
public:
    // About the height the whole form takes, its glow included.
    static constexpr int kFullHeight = 780;

    explicit Password(QWidget *parent = nullptr);
    ~Password() override;

    QString emailAddress() const;
    QString password() const;
    TitleBar *titleBar() const { return m_titleBar; }
    // Moved onto the screen, when it is not wholly on one.
    void fitScreen();

public slots:
    // Puts the focus where typing goes next, then shows the form.
    void show();
    void setWarning(bool enabled);
    void setWarningText(const QString &text);
    // What the form says when the service could not be used: the fault
    // named, and when the next try comes (retryInMs < 0: none).
    void showServiceFault(const ServiceFault &fault, int retryInMs);
    void setEmailAddress(const QString &value);
    void setPassword(const QString &value);
    void on_loginButton_clicked();
    void on_registerButton_clicked();
    void linkToLadder();
    void updatePassword(const QString &value);

signals:
    void loginButtonClicked();
    void emailAddressChanged(const QString &emailAddress);
    void passwordChanged(const QString &password);
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::Password *ui;
    TitleBar *m_titleBar;
};
