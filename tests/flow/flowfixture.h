#pragma once

#include "sandbox.h"
#include "testenv.h"

#include "ui/mainwindow.h"
#include "session/zantrystate.h"

#include <QApplication>
#include <QJsonObject>
#include <QtTest>
#include <QString>
#include <QStringList>

#include <memory>


// The real main window started from a sandbox game folder against the
// sandbox service and its built-in data set ("Twin Spires" allows only
// America, Korea and France).
class FlowFixture
{
public:
    static constexpr quint32 kReady = Zantry::READY_TO_QUEUE;

    FlowFixture();
    ~FlowFixture();

    // Prepares the folder and settings, starts the sandbox (unless
    // withService is false: then nothing answers) and the window.
    bool start(const QString &token, const QStringList &sandboxArgs = QStringList(), bool withService = true);
    // The steps of start() for tests that change settings in between.
    bool prepare(const QStringList &sandboxArgs = QStringList(), bool withService = true);
    void openWindow();
    // start() with alice's stored token, then wait for the ready state.
    bool startReady();
    bool waitReady();
    // Clicks the main button, then waits for the flag set state.
    bool clickMainButton(quint32 state, int timeoutMs = 10000);

    // Arguments of the sandbox's game folder builder.
    QStringList gameFolderArgs{QStringLiteral("--game-maps"), QStringLiteral("all")};

    MainWindow *window() const { return m_window.get(); }
    Sandbox &sandbox() { return m_sandbox; }
    QString gameDir() const; // ends with "/"
    QString mapHash(const QString &fileName) const;
    quint32 state() const { return m_window->session()->state(); }

    template<typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QString::fromLatin1(name));
    }
    // Answers the next warning showing text with the button labelled
    // button, from a timer: the window runs its warnings modally, so the
    // answer must come from inside that loop. Counts answers in *answered.
    void answerWarning(const QString &text, const QString &button, int *answered = nullptr);

    // Everything the sandbox recorded of one kind ("updates", "quits", ...).
    QJsonArray journal(const QString &kind) const;
    QStringList updateStatuses(const QString &username) const;

private:

    std::unique_ptr<TestEnv> m_env;
    Sandbox m_sandbox;
    std::unique_ptr<MainWindow> m_window;
    QString m_dataDir;
    QString m_zantryDir;
};

// QTEST_MAIN without the cap on messages: a whole session logs thousands
// of lines, and past the cap a failure's context is lost.
#define FLOW_TEST_MAIN(TestObject)                                                                                     \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        QApplication app(argc, argv);                                                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestObject tc;                                                                                                 \
        QStringList args = app.arguments();                                                                            \
        args << QStringLiteral("-maxwarnings") << QStringLiteral("0");                                                 \
        return QTest::qExec(&tc, args);                                                                                \
    }
