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

void addShadow(QWidget *frame, int blurRadius, int alpha = kShadowAlpha);

// Makes dialog frameless and translucent, gives outerFrame its shadow and
// puts a new title bar into titleBarLayout.
TitleBar *decorate(QDialog *dialog, QWidget *outerFrame, QLayout *titleBarLayout, int blurRadius = kShadowBlur,
                   int alpha = kShadowAlpha);

void setHandCursor(QDialogButtonBox *box);

} // namespace FramelessDialog
