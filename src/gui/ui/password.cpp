#include "ui/password.h"

#include "api/servicefault.h"
#include "ui_password.h"

#include <algorithm>

#include "util/endpoints.h"
#include "ui/framelessdialog.h"
#include "ui/titlebar.h"
#include "zantryversion.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

Password::Password(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Password)
{
    // A short screen (a netbook's 600 lines) gets the smaller logo and
    // spacing the style sheet gives a compact form; decided before the
    // first polish, which fixes the sizes.
    const QScreen *screen = QGuiApplication::primaryScreen();
    setProperty("compact", screen && screen->availableGeometry().height() < kFullHeight);
    ui->setupUi(this);
    m_titleBar = FramelessDialog::decorate(this, ui->passwordWinFrame, ui->titleBarLayout, 30);
    m_titleBar->setMinimizeVisible(false);
    connect(m_titleBar, &TitleBar::closeButtonClicked, this, &QWidget::close);
    connect(m_titleBar, &TitleBar::minimizeClicked, this, &QWidget::showMinimized);
    connect(ui->logoLabel, &ClickableLabel::clicked, this, &Password::linkToLadder);
    connect(ui->emailAddress, &QLineEdit::textChanged, this, &Password::setEmailAddress);
    connect(ui->password, &QLineEdit::textChanged, this, &Password::updatePassword);

    const QString trouble = Endpoints::instance().siteLink(QStringLiteral("/password/email")).toString();
    ui->troubleLabel->setText(QStringLiteral("<a href=\"%1\" style=\"color: #454545; text-decoration: underline;\">"
                                             "Trouble Logging In?</a>")
                                  .arg(trouble.toHtmlEscaped()));
    ui->versionLabel->setText(QStringLiteral("v" ZANTRY_VERSION));
    ui->warningLabel->hide();
    // The example address must not pass for a typed one: the style sheet
    // draws an empty field's text (its placeholder) in a darker colour.
    const auto markEmpty = [this]() {
        QLineEdit *field = ui->emailAddress;
        if (field->property("empty").toBool() == field->text().isEmpty())
            return;
        field->setProperty("empty", field->text().isEmpty());
        field->style()->unpolish(field);
        field->style()->polish(field);
    };
    markEmpty();
    connect(ui->emailAddress, &QLineEdit::textChanged, this, markEmpty);
    adjustSize();
    QDialog::show();
}

Password::~Password()
{
    delete ui;
}

QString Password::emailAddress() const
{
    return ui->emailAddress->text();
}

QString Password::password() const
{
    return ui->password->text();
}

void Password::show()
{
    if (!ui->emailAddress->text().isEmpty())
        ui->password->setFocus();
    fitScreen();
    QDialog::show();
}

void Password::fitScreen()
{
    FramelessDialog::keepOnScreen(this);
}

void Password::setWarning(bool enabled)
{
    ui->warningLabel->setVisible(enabled);
    // The warning takes the spacer's room, so the form still fits a laptop.
    ui->spacerLabel->setVisible(!enabled);
}

void Password::setWarningText(const QString &text)
{
    ui->warningLabel->setText(text);
    // A wrapped label does not ask the layout for its lines' height: a
    // service fault's few lines would be drawn over the logo.
    const int width = std::max(ui->warningLabel->width(), ui->emailAddress->minimumWidth());
    ui->warningLabel->setMinimumHeight(ui->warningLabel->heightForWidth(width));
}

void Password::setEmailAddress(const QString &value)
{
    if (ui->emailAddress->text() == value)
        return;
    disconnect(ui->emailAddress, &QLineEdit::textChanged, this, &Password::setEmailAddress);
    ui->emailAddress->setText(value);
    connect(ui->emailAddress, &QLineEdit::textChanged, this, &Password::setEmailAddress);
    emit emailAddressChanged(ui->emailAddress->text());
}

void Password::setPassword(const QString &value)
{
    if (ui->password->text() == value)
        return;
    disconnect(ui->password, &QLineEdit::textChanged, this, &Password::updatePassword);
    ui->password->setText(value);
    connect(ui->password, &QLineEdit::textChanged, this, &Password::updatePassword);
    emit passwordChanged(value);
}

void Password::on_loginButton_clicked()
{
    hide();
    // Typing alone reaches nobody; the attempt carries what the form shows
    // now, so a first login and a corrected address are never a try late.
    emit emailAddressChanged(emailAddress());
    emit passwordChanged(password());
    emit loginButtonClicked();
}

void Password::on_registerButton_clicked()
{
    QDesktopServices::openUrl(Endpoints::instance().siteLink(QStringLiteral("/auth/register")));
}

void Password::linkToLadder()
{
    QDesktopServices::openUrl(QUrl(Endpoints::instance().siteUrl()));
}

void Password::updatePassword(const QString &value)
{
    emit passwordChanged(value);
}

void Password::closeEvent(QCloseEvent *event)
{
    emit closed();
    QDialog::closeEvent(event);
}

void Password::showServiceFault(const ServiceFault &fault, int retryInMs)
{
    QString text = fault.isFault()
                       ? fault.message()
                       : QStringLiteral("LORVANE could not be contacted. Please check your network connection and try again.");
    if (retryInMs >= 0)
        text += QStringLiteral(" Trying again in %1 s.").arg((retryInMs + 500) / 1000);
    setWarningText(text);
}
