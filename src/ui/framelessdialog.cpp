#include "ui/framelessdialog.h"

#include "ui/titlebar.h"

#include <QAbstractButton>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGraphicsDropShadowEffect>
#include <QLayout>

namespace FramelessDialog {

void addShadow(QWidget *frame, int blurRadius, int alpha)
{
    auto *shadow = new QGraphicsDropShadowEffect(frame);
    shadow->setBlurRadius(blurRadius);
    shadow->setOffset(0, 0);
    shadow->setColor(QColor(0, 73, 147, alpha));
    frame->setGraphicsEffect(shadow);
}

TitleBar *decorate(QDialog *dialog, QWidget *outerFrame, QLayout *titleBarLayout, int blurRadius, int alpha)
{
    dialog->setWindowFlags(dialog->windowType() | Qt::FramelessWindowHint);
    dialog->setAttribute(Qt::WA_TranslucentBackground);
    addShadow(outerFrame, blurRadius, alpha);
    auto *titleBar = new TitleBar(dialog);
    titleBarLayout->addWidget(titleBar);
    const auto boxes = dialog->findChildren<QDialogButtonBox *>();
    for (QDialogButtonBox *box : boxes)
        setHandCursor(box);
    return titleBar;
}

void setHandCursor(QDialogButtonBox *box)
{
    const auto buttons = box->buttons();
    for (QAbstractButton *button : buttons)
        button->setCursor(Qt::PointingHandCursor);
}

} // namespace FramelessDialog
