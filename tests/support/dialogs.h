#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QObject;
class QWidget;
class WarningDialog;

namespace Dialogs {

// The warning on screen, or null.
WarningDialog *visibleWarning();
// Every warning on screen: questions asked over one another.
QList<WarningDialog *> visibleWarnings();

// Answers the next warning whose text begins with text by clicking the
// button labelled button (empty: the title bar's close, a rejection;
// "Escape": the Escape key), from a
// timer: the window runs its warnings modally, so the answer
// must come from inside that loop. The timer lives as long as owner; each
// answer counts in *answered; beforeClick runs just before the click.
void answerWarning(QObject *owner, const QString &text, const QString &button, int *answered = nullptr,
                   std::function<void()> beforeClick = {});

// Answers the next folder choosers, one per entry of dirs in turn, by typing
// the folder into the name field and pressing Enter, from a timer like
// answerWarning.
void answerFolderChoosers(QObject *owner, const QStringList &dirs, int *answered = nullptr);

// A person's click: only on a widget that is on screen and enabled.
bool click(QWidget *widget);

} // namespace Dialogs
