// The window follows the desktop's scale: on a screen of 192 dpi (a 2x
// GNOME or Xfce desktop) it draws at twice the pixels, its logical size
// unchanged. The test runs its own Xvfb; without one it skips.
#include "app/startup.h"
#include "ui/password.h"

#include <QApplication>
#include <QScreen>
#include <QWindow>
#include <QtTest>

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t s_xvfb = 0;

// Xvfb on a display it picks itself (-displayfd); empty when it cannot start.
QByteArray startXvfb()
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    s_xvfb = ::fork();
    if (s_xvfb == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(fds[0]);
        const QByteArray fd = QByteArray::number(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-dpi", "192", "-screen", "0", "1600x1000x24",
                 "-nolisten", "tcp", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    char number[16] = {};
    const ssize_t got = s_xvfb > 0 ? ::read(fds[0], number, sizeof number - 1) : -1;
    ::close(fds[0]);
    return got > 0 ? QByteArray(":") + QByteArray(number, int(got)).trimmed() : QByteArray();
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
