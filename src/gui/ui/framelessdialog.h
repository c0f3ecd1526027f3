#pragma once

class QDialog;
class QDialogButtonBox;
class QLayout;
class QWidget;
class TitleBar;

// The decoration every Zantry window shares: no system frame, a translucent
// background around a rounded frame that casts a blue glow, and our own
// title bar.
namespace FramelessDialog {

constexpr int kShadowBlur = 40;
constexpr int kShadowAlpha = 200;

// Whether the desktop composites windows: without a compositor an X11
// display shows a translucent window's clear pixels as black, so the
// windows are drawn opaque and without the glow there.
bool translucencyWorks();

// Lets window show through around its frame when the desktop composites;
// otherwise drops the margin the glow would have filled (its layout's).
void makeTranslucent(QWidget *window);

// The frame's blue glow; a blue line where the desktop does not composite.
void addShadow(QWidget *frame, int blurRadius, int alpha = kShadowAlpha);

// Makes dialog frameless and translucent, gives outerFrame its shadow and
// puts a new title bar into titleBarLayout.
TitleBar *decorate(QDialog *dialog, QWidget *outerFrame, QLayout *titleBarLayout, int blurRadius = kShadowBlur,
                   int alpha = kShadowAlpha);

void setHandCursor(QDialogButtonBox *box);

// Moves (and shrinks) a window that is not wholly on a screen onto the
// available area of the screen it is on, or the primary one; true when it
// had to. A position saved on a larger screen comes back visible.
bool keepOnScreen(QWidget *window);
// The first placement: in the middle of its screen, no larger than it.
void centerOnScreen(QWidget *window);

} // namespace FramelessDialog
