#include "ui/busywidget.h"
#include "ui_busywidget.h"

#include "ui/framelessdialog.h"
#include "ui/titlebar.h"

#include <QLayout>

BusyWidget::BusyWidget(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::BusyWidget)
{
    ui->setupUi(this);
    m_titleBar = FramelessDialog::decorate(this, ui->busyFrame, ui->titleBarLayout);
    // Only the cancel button may end the wait; closing would leave it running.
    m_titleBar->hideCloseButton();
    m_titleBar->disableCloseButton();
    connect(m_titleBar, &TitleBar::minimizeClicked, this, &BusyWidget::slotMinimizedClicked);
}

BusyWidget::~BusyWidget()
{
    delete ui;
}

void BusyWidget::setMovie(QMovie *movie)
{
    ui->graphicLabel->setMovie(movie);
}

QString BusyWidget::text() const
{
    return ui->notificationLabel->text();
}

void BusyWidget::on_cancelButton_clicked()
{
    hide();
    emit cancelClicked();
}

void BusyWidget::slotMinimizedClicked()
{
    emit minimizeClicked();
}

void BusyWidget::setText(const QString &text)
{
    ui->notificationLabel->setText(text);
    layout()->activate();
    resize(minimumSize());
}
