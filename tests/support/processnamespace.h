#pragma once

#include <QString>
#include <QStringList>

// Runs on one machine see each other's games, and a client's process watcher
// pauses its queue for any program on its watch list. A test, or a client it
// starts, in a process namespace of its own sees only its own processes, and
// all of them end when the namespace's first process does.
namespace ProcessNamespace {

// Whether tools/isolate can make one here (as root, or else through a user
// namespace); why not otherwise.
bool available(QString *why = nullptr);

// For ChildProcess::setLauncher: the program runs in a namespace of its own
// that ends with this process, even a killed one. Empty where none can be made.
QStringList launcher();

// First thing in main: starts this test again inside a namespace of its own
// and returns only there, or where none can be made (saying so on standard
// error). ZANTRY_PROCESS_NAMESPACE=off keeps the test where it is, for a
// debugger.
void enter(char *argv[]);
bool entered();

} // namespace ProcessNamespace

// QTEST_MAIN (QApplication) or QTEST_GUILESS_MAIN (QCoreApplication), run in
// a namespace of the test's own.
#define ZANTRY_TEST_MAIN_IN_OWN_NAMESPACE(TestObject, Application)                                                     \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        ProcessNamespace::enter(argv);                                                                                 \
        Application app(argc, argv);                                                                                   \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
