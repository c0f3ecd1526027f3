#include "flowfixture.h"

#include "dialogs.h"

#include "util/filedigest.h"
#include "ui/appearance.h"
#include "maps/mapdownloader.h"
#include "util/settings.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

FlowFixture::FlowFixture()
    : m_env(new TestEnv)
{
    Appearance::initResources();
    QApplication::setQuitOnLastWindowClosed(false);
    // Peer addresses would be this machine's own LAN addresses; the tests
    // keep every datagram on loopback, through the tunnel stand-in.
    Settings::setAllowP2P(false);
    QDir().mkpath(QStringLiteral("Zantry"));
    m_zantryDir = QDir::current().absoluteFilePath(QStringLiteral("Zantry"));
    Settings::setWatchedProcesses({QStringLiteral("no-such-game.exe")});
    m_dataDir = m_env->filePath(QStringLiteral("data"));
}

FlowFixture::~FlowFixture()
{
    m_window.reset();
    m_sandbox.stop();
}

bool FlowFixture::prepare(const QStringList &sandboxArgs, bool withService)
{
    // The data set written out, so tests can read the maps' digests.
    QProcess tool;
    tool.start(TestEnv::toolPath(QStringLiteral("sandbox")), {QStringLiteral("--write-data"), m_dataDir});
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0) {
        qWarning("sandbox data not written");
        return false;
    }
    const QStringList folder = Sandbox::makeGameFolder(QDir::currentPath(), gameFolderArgs);
    if (folder.isEmpty()) {
        qWarning("game folder not built");
        return false;
    }
    if (!withService)
        return true;
    if (!m_sandbox.start(QStringList{QStringLiteral("--data"), m_dataDir} + sandboxArgs)) {
        qWarning("sandbox: %s", qPrintable(m_sandbox.errorText()));
        return false;
    }
    m_env->setEndpoints(m_sandbox.endpoints());
    return true;
}

void FlowFixture::openWindow()
{
    m_window.reset(new MainWindow(QDir(m_zantryDir)));
}

bool FlowFixture::start(const QString &token, const QStringList &sandboxArgs, bool withService)
{
    if (!prepare(sandboxArgs, withService))
        return false;
    QSettings().setValue(QStringLiteral("accessToken"), token);
    openWindow();
    return true;
}

bool FlowFixture::startReady()
{
    // Previews are fetched after the maps and take the flags through a scan
    // again; ready means the flow has shown ready with nothing left to fetch.
    return start(QStringLiteral("token-alice")) && waitReady();
}

bool FlowFixture::waitReady()
{
    return QTest::qWaitFor(
               [this] {
                   return state() == kReady && m_window->session()->mapDownloader()->state() == MapDownloader::Done
                          && child<QPushButton>("mainButton")->isEnabled();
               },
               20000);
}

bool FlowFixture::clickMainButton(quint32 wanted, int timeoutMs)
{
    // The flow enables the button on its run after the flags changed.
    auto *button = child<QPushButton>("mainButton");
    if (!QTest::qWaitFor([button] { return button->isEnabled(); }, timeoutMs))
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return QTest::qWaitFor([this, wanted] { return state() == wanted; }, timeoutMs);
}

QString FlowFixture::gameDir() const
{
    return QDir::currentPath() + QLatin1Char('/');
}

QString FlowFixture::mapHash(const QString &fileName) const
{
    return FileDigest::sha1Hex(m_dataDir + QStringLiteral("/maps/yr/") + fileName);
}

void FlowFixture::answerWarning(const QString &text, const QString &button, int *answered)
{
    Dialogs::answerWarning(m_window.get(), text, button, answered);
}

QJsonArray FlowFixture::journal(const QString &kind) const
{
    return m_sandbox.inspect().value(kind).toArray();
}

QStringList FlowFixture::updateStatuses(const QString &username) const
{
    return Sandbox::statuses(m_sandbox.inspect(), username);
}
