#include "dialogs.h"

#include "ui/warningdialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QTimer>
#include <QtTest>

namespace Dialogs {

WarningDialog *visibleWarning()
{
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (auto *dialog = qobject_cast<WarningDialog *>(window); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

void answerWarning(QObject *owner, const QString &text, const QString &button, int *answered)
{
    auto *timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, text, button, answered] {
        WarningDialog *dialog = visibleWarning();
        if (!dialog || dialog->text() != text)
            return;
        const auto buttons = dialog->findChild<QDialogButtonBox *>()->buttons();
        for (QAbstractButton *candidate : buttons) {
            if (candidate->text().remove(QLatin1Char('&')) != button)
                continue;
            timer->stop();
            timer->deleteLater();
            if (answered)
                ++*answered;
            click(candidate);
            return;
        }
    });
    timer->start(20);
}

bool click(QWidget *widget)
{
    if (!widget || !widget->isVisible() || !widget->isEnabled())
        return false;
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
    return true;
}

} // namespace Dialogs
