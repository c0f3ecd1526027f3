#include "dialogs.h"

#include "ui/titlebar.h"
#include "ui/warningdialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace Dialogs {

QList<WarningDialog *> visibleWarnings()
{
    QList<WarningDialog *> shown;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (auto *dialog = qobject_cast<WarningDialog *>(window); dialog && dialog->isVisible())
            shown << dialog;
    }
    return shown;
}

WarningDialog *visibleWarning()
{
    return visibleWarnings().value(0);
}

void answerWarning(QObject *owner, const QString &text, const QString &button, int *answered,
                   std::function<void()> beforeClick)
{
    auto *timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, text, button, answered, beforeClick] {
        for (WarningDialog *dialog : visibleWarnings()) {
            if (!dialog->text().startsWith(text))
                continue;
            const bool escape = button == QLatin1String("Escape");
            QAbstractButton *target = nullptr;
            const auto buttons = dialog->findChild<QDialogButtonBox *>()->buttons();
            for (QAbstractButton *candidate : buttons)
                target = candidate->text().remove(QLatin1Char('&')) == button ? candidate : target;
            if (button.isEmpty())
                target = dialog->titleBar()->findChild<QAbstractButton *>(QStringLiteral("closeButton"));
            if (!target && !escape)
                return;
            timer->stop();
            timer->deleteLater();
            if (answered)
                ++*answered;
            if (beforeClick)
                beforeClick();
            if (escape)
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                click(target);
            return;
        }
    });
    timer->start(20);
}

void answerFolderChoosers(QObject *owner, const QStringList &dirs, int *answered)
{
    auto *timer = new QTimer(owner);
    auto next = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, dirs, answered, next] {
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            auto *chooser = qobject_cast<QFileDialog *>(window);
            auto *name = chooser ? chooser->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
            if (!name || !chooser->isVisible())
                continue;
            if (++*next == dirs.size()) {
                timer->stop();
                timer->deleteLater();
            }
            if (answered)
                ++*answered;
            name->setText(dirs.at(*next - 1));
            QTest::keyClick(name, Qt::Key_Return); // the chooser closes before this returns
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
