// Starts a SingleApplication and reports what happens to it on stdout, so
// the tests can drive primaries and secondaries as real processes.
#include "app/singleapplication.h"

#include <QTextStream>
#include <cstdio>

int main(int argc, char *argv[])
{
    SingleApplication app(argc, argv, false, SingleApplication::User, 1000);
    QTextStream out(stdout);
    out << "PRIMARY " << app.blockServerName() << Qt::endl;
    QObject::connect(&app, &SingleApplication::instanceStarted, [&out]() { out << "STARTED" << Qt::endl; });
    // Ends on its own, as a real primary does when the user quits.
    if (qEnvironmentVariableIsSet("HELPER_QUIT_ON_START"))
        QObject::connect(&app, &SingleApplication::instanceStarted, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QObject::connect(&app, &SingleApplication::receivedMessage, [&out](quint32 id, const QByteArray &msg) {
        out << "MESSAGE " << id << ' ' << msg << Qt::endl;
    });
    return app.exec();
}
