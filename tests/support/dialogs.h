#pragma once

#include <QString>

class QObject;
class QWidget;
class WarningDialog;

namespace Dialogs {

// The warning on screen, or null.
WarningDialog *visibleWarning();

// Answers the next warning that shows text by clicking the button labelled
// button, from a timer: the window runs its warnings modally, so the answer
// must come from inside that loop. The timer lives as long as owner; each
// answer counts in *answered.
void answerWarning(QObject *owner, const QString &text, const QString &button, int *answered = nullptr);

// A person's click: only on a widget that is on screen and enabled.
bool click(QWidget *widget);

} // namespace Dialogs
