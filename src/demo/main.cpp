// zantry-demo: the client with the demo's drivers, for "scripts/run
// --unattended" and the tests that watch a whole match play by itself. The
// shipped client has none of this.
#include "app/startup.h"
#include "demo/demoautoplay.h"

#include <QCommandLineParser>
#include <csignal>
#include <sys/prctl.h>

int main(int argc, char *argv[])
{
    // Started by a test or the demo script: ends with it, even a killed one.
    if (qEnvironmentVariableIsSet("ZANTRY_DIE_WITH_PARENT"))
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const QCommandLineOption autoplay(QStringLiteral("demo-autoplay"),
                                      QStringLiteral("Press the buttons: queue, accept, quit after the result."));
    const QCommandLineOption shots(QStringLiteral("demo-screenshots"),
                                   QStringLiteral("With --demo-autoplay, save a picture of each stage in <dir>."),
                                   QStringLiteral("dir"));
    Startup::Extension demo;
    demo.options = {autoplay, shots};
    demo.windowCreated = [autoplay, shots](MainWindow *window, const QCommandLineParser &parser) {
        if (parser.isSet(autoplay))
            new DemoAutoplay(window, parser.value(shots));
    };
    return Startup::run(argc, argv, demo);
}
