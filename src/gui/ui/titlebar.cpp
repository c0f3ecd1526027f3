#include "ui/titlebar.h"
#include "ui_titlebar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

TitleBar::TitleBar(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::TitleBar)
{
    ui->setupUi(this);
    QWidget *win = window();
    ui->titleLabel->setText(win->windowTitle());
    connect(win, &QWidget::windowTitleChanged, ui->titleLabel, &QLabel::setText);
}

TitleBar::~TitleBar()
{
    delete ui;
}

void TitleBar::setMinimizeVisible(bool visible)
{
    ui->minimizeButton->setVisible(visible);
}

void TitleBar::hideCloseButton()
{
    ui->closeButton->hide();
}

void TitleBar::disableCloseButton()
{
    ui->closeButton->setEnabled(false);
}

void TitleBar::on_closeButton_clicked()
{
    emit closeButtonClicked();
}

void TitleBar::on_minimizeButton_clicked()
{
    emit minimizeClicked();
}

QWidget *TitleBar::draggedParent() const
{
    QWidget *win = window();
    if (!win->isModal() || !win->parentWidget())
        return nullptr;
    return win->parentWidget()->window();
}

void TitleBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_windowOffset = event->globalPos() - window()->frameGeometry().topLeft();
        if (QWidget *parent = draggedParent())
            m_parentOffset = event->globalPos() - parent->frameGeometry().topLeft();
    }
    QWidget::mousePressEvent(event);
}

void TitleBar::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    // The parent first, so a modal dialog stays on top of it while both move.
    if (QWidget *parent = draggedParent())
        parent->move(event->globalPos() - m_parentOffset);
    window()->move(event->globalPos() - m_windowOffset);
    event->accept();
}

void TitleBar::paintEvent(QPaintEvent *)
{
    // Lets the style sheet give the bar a background like any other widget.
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
