#include "ui/framelessdialog.h"

#include "ui/titlebar.h"

#include <QAbstractButton>
#include <QDialog>
#include <QDebug>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QGraphicsDropShadowEffect>
#include <QLayout>
#include <QScreen>

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


void centerOnScreen(QWidget *window)
{
    QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    if (frame.height() > available.height() || frame.width() > available.width()) {
        window->setMaximumSize(available.size());
    } else {
        frame.moveCenter(available.center());
        window->move(frame.topLeft());
    }
    window->resize(window->size());
}

bool keepOnScreen(QWidget *window)
{
    QScreen *screen = QGuiApplication::screenAt(window->frameGeometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return false;
    const QRect available = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    if (available.contains(frame))
        return false;
    QRect inside = frame;
    inside.setSize(frame.size().boundedTo(available.size()));
    inside.moveLeft(qBound(available.left(), frame.left(), available.right() - inside.width() + 1));
    inside.moveTop(qBound(available.top(), frame.top(), available.bottom() - inside.height() + 1));
    // A system frame around the client area keeps its size.
    window->resize(window->size() - (frame.size() - inside.size()));
    window->move(inside.topLeft());
    qDebug().noquote() << QStringLiteral("%1 moved onto the screen at %2,%3")
                              .arg(window->objectName())
                              .arg(inside.x())
                              .arg(inside.y());
    return true;
}

} // namespace FramelessDialog
