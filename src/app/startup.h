#pragma once

#include <QCommandLineOption>
#include <QDir>
#include <QList>

#include <functional>

class MainWindow;
class QApplication;
class QCommandLineParser;

namespace Startup {

// What a program built on the client's start-up adds: the shipped client
// adds nothing; the demo adds its drivers and their switches.
struct Extension
{
    QList<QCommandLineOption> options;
    std::function<void(MainWindow *, const QCommandLineParser &)> windowCreated;
};

// The program's whole run: command line, single instance, log, fonts,
// style, main window, crash handler, event loop, orderly shutdown.
int run(int argc, char *argv[], const Extension &extension = Extension());

// What run() does before the application object exists.
void prepareProcess();
// Before the application object: high-DPI scaling that follows the desktop.
void prepareScaling();
// What run() does between the application object and the main window:
// names, the game folder to work in (gameDir: one asked for on the command
// line), data folder and log, self hash, fonts and style sheet. The
// user-road tests start the window the program's way through these two.
// Returns the data folder, for the window and the crash handler.
QDir prepareApplication(QApplication &app, const QString &gameDir = QString());

// The folder the program works in: gameDir when it holds a game (then also
// remembered), else the current folder when it holds one, else the one
// remembered; with none, the program's own data folder, so that nothing is
// written where the player happened to start it. Makes it current.
QString enterGameFolder(const QString &gameDir);

} // namespace Startup
