#include "ui/framelessdialog.h"

#include "ui/titlebar.h"

#include <QAbstractButton>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGraphicsDropShadowEffect>
#include <QLayout>

#ifdef ZANTRY_HAVE_X11EXTRAS
#include <QX11Info>
#endif

namespace FramelessDialog {

bool translucencyWorks()
{
#ifdef ZANTRY_HAVE_X11EXTRAS
    if (QX11Info::isPlatformX11())
        return QX11Info::isCompositingManagerRunning();
#endif
    return true;
}

void makeTranslucent(QWidget *window)
{
    if (translucencyWorks()) {
        window->setAttribute(Qt::WA_TranslucentBackground);
        return;
    }
    if (QLayout *layout = window->layout())
        layout->setContentsMargins(0, 0, 0, 0);
}

void addShadow(QWidget *frame, int blurRadius, int alpha)
{
    if (!translucencyWorks()) {
        // A line in the glow's colour, so a dialog stands out from the
        // window under it.
        frame->setStyleSheet(QStringLiteral("#%1 { border: 1px solid rgb(0, 73, 147); }").arg(frame->objectName()));
        return;
    }
    auto *shadow = new QGraphicsDropShadowEffect(frame);
    shadow->setBlurRadius(blurRadius);
    shadow->setOffset(0, 0);
    shadow->setColor(QColor(0, 73, 147, alpha));
    frame->setGraphicsEffect(shadow);
}

TitleBar *decorate(QDialog *dialog, QWidget *outerFrame, QLayout *titleBarLayout, int blurRadius, int alpha)
{
    dialog->setWindowFlags(dialog->windowType() | Qt::FramelessWindowHint);
    // Only the main window's close ends the program: a dialog answered
    // while that window is hidden (the login form's time, the tray) would
    // otherwise count as the last window closing.
    dialog->setAttribute(Qt::WA_QuitOnClose, false);
    makeTranslucent(dialog);
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
