#include "ui/warningdialog.h"
#include "ui_warningdialog.h"

#include "ui/framelessdialog.h"
#include "ui/titlebar.h"
#include "util/settings.h"

#include <algorithm>

#include <QDebug>
#include <QLayout>
#include <QPushButton>
#include <QTimer>

WarningDialog::WarningDialog(const QString &text, QWidget *parent)
    : WarningDialog(text, QDialogButtonBox::Ok, parent)
{
}

WarningDialog::WarningDialog(const QString &text, QDialogButtonBox::StandardButtons buttons, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::WarningDialog)
    , m_autoAcceptTimer(new QTimer(this))
{
    ui->setupUi(this);
    m_titleBar = FramelessDialog::decorate(this, ui->warningFrame, ui->titleBarLayout, FramelessDialog::kShadowBlur,
                                           255);
    m_titleBar->setMinimizeVisible(false);
    m_autoAcceptTimer->setObjectName(QStringLiteral("autoAcceptTimer"));
    m_autoAcceptTimer->setSingleShot(true);
    connect(m_autoAcceptTimer, &QTimer::timeout, this, &WarningDialog::accept);
    connect(m_titleBar, &TitleBar::closeButtonClicked, this, &WarningDialog::reject);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &WarningDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &WarningDialog::reject);
    connect(ui->buttonBox, &QDialogButtonBox::clicked, this, &WarningDialog::maybeLogOut);
    setButtons(buttons);
    setText(text);
}

WarningDialog::~WarningDialog()
{
    delete ui;
}

QString WarningDialog::text() const
{
    return ui->warningLabel->text();
}

void WarningDialog::setText(const QString &text)
{
    ui->warningLabel->setText(text);
    layout()->activate();
    resize(minimumSize());
}

void WarningDialog::setButtons(QDialogButtonBox::StandardButtons buttons)
{
    ui->buttonBox->clear();
    ui->buttonBox->setStandardButtons(buttons & ~QDialogButtonBox::Discard);
    if (buttons & QDialogButtonBox::Discard) {
        // Named before it joins the box, so the style sheet sees the name.
        auto *logOut = new QPushButton(tr("Log Out"));
        logOut->setObjectName(QStringLiteral("logOutButton"));
        ui->buttonBox->addButton(logOut, QDialogButtonBox::DestructiveRole);
    }
    FramelessDialog::setHandCursor(ui->buttonBox);
}

void WarningDialog::setButtonText(QDialogButtonBox::StandardButton button, const QString &text)
{
    if (QPushButton *shown = ui->buttonBox->button(button))
        shown->setText(text);
}

void WarningDialog::showEvent(QShowEvent *event)
{
    // What the user was told belongs in the log they send with a report.
    qDebug().noquote() << "Warning shown: " + text().replace(QLatin1Char('\n'), QLatin1Char(' '));
    // Styled now: a wrapped text gets the height its lines take at this width.
    if (layout()->hasHeightForWidth())
        resize(width(), std::max(height(), layout()->totalHeightForWidth(width())));
    QDialog::showEvent(event);
}

void WarningDialog::startAutoAccept(int ms)
{
    m_autoAcceptTimer->start(ms);
}

int WarningDialog::ask()
{
    if (isVisible()) {
        qDebug().noquote() << "Already asked: " + text().replace(QLatin1Char('\n'), QLatin1Char(' '));
        return kNotAsked;
    }
    return exec();
}

void WarningDialog::accept()
{
    m_autoAcceptTimer->stop();
    QDialog::accept();
}

void WarningDialog::reject()
{
    m_autoAcceptTimer->stop();
    QDialog::reject();
}

void WarningDialog::maybeLogOut(QAbstractButton *button)
{
    if (ui->buttonBox->buttonRole(button) == QDialogButtonBox::DestructiveRole) {
        m_logOut = true;
        accept();
    } else {
        m_logOut = false;
    }
}

void WarningDialog::on_clearDataLabel_linkActivated(const QString &)
{
    Settings::clear();
    accept();
}
