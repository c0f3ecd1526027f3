#pragma once

#include <QWidget>

class QLabel;
class Session;
class QPushButton;

// Who is logged in, and the way out of that account without quitting.
class AccountLine : public QWidget
{
    Q_OBJECT
public:
    explicit AccountLine(QWidget *parent = nullptr);

    void setEmailAddress(const QString &address);
    QString emailAddress() const;
    // Off while a queue or a match holds the account.
    void setLogOutEnabled(bool enabled);
    // Shows the session's account and logs it out on request.
    void follow(Session *session);

signals:
    void logOutRequested();

private:
    QLabel *m_email;
    QPushButton *m_logOut;
};
