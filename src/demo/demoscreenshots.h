#pragma once

#include <QString>

class QWidget;

// The demo's camera: a PNG of every visible window of the program, drawn
// into one picture, saved as <dir>/<NN>-<stage>.png. Drawn by the program
// itself, so each picture shows the stage it is named after, on any display
// (Xvfb or offscreen) and without a delay.
class DemoScreenshots
{
public:
    explicit DemoScreenshots(const QString &dir);

    // The stage's name: the flags the new set added ("matchup-found"), or
    // the ones it dropped ("without-game-spawned") when it added none.
    static QString stageName(quint32 before, quint32 after);

    bool capture(const QString &stage, QWidget *mainWindow);

private:
    QString m_dir;
    int m_count = 0;
};
