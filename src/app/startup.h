#pragma once

class QApplication;
class QString;

namespace Startup {

// The program's whole run: single instance, log, fonts, style, main
// window, crash handler, event loop, orderly shutdown.
int run(int argc, char *argv[]);

// What run() does before the application object exists.
void prepareProcess();
// What run() does between the application object and the main window:
// names, data folder and log, self hash, fonts and style sheet. The
// user-road tests start the window the program's way through these two.
void prepareApplication(QApplication &app);

// The style sheet start-up applies: the data directory's "mainstyle.qss"
// when it exists, else the built-in one. Logs "error: " on a failed open.
QString loadStyleSheet();

void registerFonts();

// Resources live in the static core library and must be pulled in by name.
void initResources();

} // namespace Startup
