#include "notify/desktopnotifier.h"

#include "api/lorvaneapi.h"
#include "api/matchstate.h"
#include "session/session.h"

#include <QApplication>
#include <QDialog>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QWidget>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The default action is what a click on the notification itself invokes.
const QString kShowAction = QStringLiteral("default");
} // namespace

DesktopNotifier::DesktopNotifier(QWidget *window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        unavailable(QStringLiteral("no session bus (%1)").arg(bus.lastError().message()));
        return;
    }
    m_connected = true;
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));
}

void DesktopNotifier::readyCheck()
{
    m_readyCheckWanted = true;
    send(tr("Your match is ready"), tr("Accept the ready check in Zantry before it runs out."), Critical, 0, true);
}

void DesktopNotifier::withdrawReadyCheck()
{
    m_readyCheckWanted = false;
    if (!m_connected || !m_readyCheckId)
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
    call << m_readyCheckId;
    QDBusConnection::sessionBus().asyncCall(call);
    m_readyCheckId = 0;
}

void DesktopNotifier::matchFound(const QString &mapName)
{
    send(tr("Match found"), tr("Connected to every player on %1; the game starts.").arg(mapName), Normal, -1, false);
}

void DesktopNotifier::resultUploaded()
{
    send(tr("Match over"), tr("Result uploaded."), Low, -1, false);
}

void DesktopNotifier::resultNotTaken(bool kept)
{
    send(tr("Match over"),
         kept ? tr("The service did not take the result; it is kept and sent again.")
              : tr("The service did not take the result."),
         Normal, -1, false);
}

void DesktopNotifier::pausedByWatcher()
{
    send(tr("Zantry has been paused"), tr("Process Watcher has detected another game is running."), Normal, -1, false);
}

void DesktopNotifier::send(const QString &summary, const QString &body, Urgency urgency, int timeoutMs, bool critical)
{
    if (!m_connected)
        return;
    if (!critical && m_window && m_window->isVisible() && m_window->isActiveWindow())
        return;
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(urgency)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zantry"));
    const QStringList actions{kShowAction, tr("Show Zantry")};
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QCoreApplication::applicationName() << uint(0) << QStringLiteral("zantry") << summary << body << actions
         << hints << timeoutMs;
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, critical](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        const QDBusPendingReply<uint> reply = *done;
        if (reply.isError()) {
            unavailable(reply.error().message());
            return;
        }
        m_saidUnavailable = false;
        m_shown.insert(reply.value());
        if (!critical)
            return;
        m_readyCheckId = reply.value();
        // Answered while the notification was on its way.
        if (!m_readyCheckWanted)
            withdrawReadyCheck();
    });
}

void DesktopNotifier::unavailable(const QString &why)
{
    if (m_saidUnavailable)
        return;
    m_saidUnavailable = true;
    qDebug().noquote() << "Desktop notifications not shown: " + why;
}

void DesktopNotifier::onActionInvoked(uint id, const QString &action)
{
    if (m_shown.contains(id) && (action == kShowAction))
        emit activated();
}

void DesktopNotifier::onClosed(uint id, uint)
{
    m_shown.remove(id);
    if (id == m_readyCheckId)
        m_readyCheckId = 0;
}

void DesktopNotifier::follow(Session *session, QDialog *readyDialog)
{
    connect(session, &Session::readyCheck, this, [this]() {
        readyCheck();
        QApplication::alert(m_window);
    });
    connect(readyDialog, &QDialog::finished, this, &DesktopNotifier::withdrawReadyCheck);
    connect(session, &Session::gameStarting, this,
            [this, session]() { matchFound(session->match()->spawnInfo().uiMapName); });
    connect(session, &Session::paused, this, &DesktopNotifier::pausedByWatcher);
    LorvaneAPI *api = session->api();
    connect(api, &LorvaneAPI::gameStatsPosted, this, &DesktopNotifier::resultUploaded);
    connect(api, &LorvaneAPI::resultUploadFailed, this, &DesktopNotifier::resultNotTaken);
}
