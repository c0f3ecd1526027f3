// The window follows the desktop's scale: on a screen of 192 dpi (a 2x
// GNOME or Xfce desktop) it draws at twice the pixels, its logical size
// unchanged. The test runs its own Xvfb; without one it skips.
#include "app/startup.h"
#include "ui/password.h"

#include <QApplication>
#include <QFileInfo>
#include <QScreen>
#include <QWindow>
#include <QtTest>

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t s_xvfb = 0;

// Xvfb on a free display of its own; empty when none could be started
// (then the test skips rather than fail to open a window).
QByteArray startXvfb()
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int number = 300 + int((::getpid() * 7 + attempt * 131) % 3000);
        const QByteArray display = ":" + QByteArray::number(number);
        if (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        s_xvfb = ::fork();
        if (s_xvfb < 0)
            return {};
        if (s_xvfb == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::execlp("Xvfb", "Xvfb", display.constData(), "-dpi", "192", "-screen", "0", "1600x1000x24", "-nolisten",
                     "tcp", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        for (int waited = 0; waited < 100; ++waited) {
            if (::waitpid(s_xvfb, nullptr, WNOHANG) != 0)
                break; // it ended: no Xvfb, or the display was taken
            if (QFileInfo::exists(socket))
                return display;
            ::usleep(50000);
        }
        ::kill(s_xvfb, SIGKILL);
        ::waitpid(s_xvfb, nullptr, 0);
        s_xvfb = 0;
    }
    return {};
}

} // namespace

class TestScaling : public QObject
{
    Q_OBJECT
public:
    bool haveDisplay = false;

private slots:
    void followsTheDesktopsDpi()
    {
        if (!haveDisplay)
            QSKIP("no Xvfb here");
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
        Password form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.windowHandle()->devicePixelRatio(), 2.0);
        // The same logical size as at 1x: text and controls twice as sharp,
        // not half as large.
        QVERIFY(form.width() < 1000 && form.screen()->geometry().width() == 800);
    }
};

int main(int argc, char *argv[])
{
    TestScaling test;
    const QByteArray display = startXvfb();
    test.haveDisplay = !display.isEmpty();
    if (test.haveDisplay) {
        qputenv("DISPLAY", display);
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    Startup::prepareScaling();
    int code = 0;
    {
        QApplication app(argc, argv);
        code = QTest::qExec(&test, argc, argv);
    }
    if (s_xvfb > 0) {
        ::kill(s_xvfb, SIGTERM);
        ::waitpid(s_xvfb, nullptr, 0);
    }
    return code;
}

#include "tst_scaling.moc"
