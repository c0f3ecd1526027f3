#include "flowfixture.h"

#include "dialogs.h"

#include "app/filedigest.h"
#include "app/startup.h"
#include "maps/mapdownloader.h"
#include "net/global.h"
#include "spawn/spawnablegame.h"
#include "ui/warningdialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QtTest>

FlowFixture::FlowFixture()
    : m_env(new TestEnv)
{
    Startup::initResources();
    QApplication::setQuitOnLastWindowClosed(false);
    SpawnableGame::resetTable();
    Global *global = Global::instance();
    global->setGames({});
    global->setCurrentGame(nullptr);
    global->setSpawnInfo(SpawnInfo());
    global->setZantryStats({});
    global->setTunnelServers({});
    // Peer addresses would be this machine's own LAN addresses; the tests
    // keep every datagram on loopback, through the tunnel stand-in.
    global->setAllowP2P(false);
    QDir().mkpath(QStringLiteral("Zantry"));
    global->setDataDir(QDir(QDir::current().absoluteFilePath(QStringLiteral("Zantry"))));
    global->processWatcher()->setWatchedProcs({QStringLiteral("no-such-game.exe")});
    m_dataDir = m_env->filePath(QStringLiteral("data"));
}

FlowFixture::~FlowFixture()
{
    m_window.reset();
    m_sandbox.stop();
    SpawnableGame::resetTable();
    Global::instance()->setGames({});
    Global::instance()->setCurrentGame(nullptr);
}

bool FlowFixture::writeData(const QString &dir)
{
    QProcess tool;
    tool.start(TestEnv::toolPath(QStringLiteral("sandbox")), {QStringLiteral("--write-data"), dir});
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
        return false;
    QFile file(dir + QStringLiteral("/sandbox.json"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QJsonObject data = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    QJsonArray accounts = data.value(QStringLiteral("accounts")).toArray();
    QJsonObject alice = accounts.at(0).toObject();
    QJsonArray players = alice.value(QStringLiteral("players")).toArray();
    players.append(QJsonObject{{QStringLiteral("id"), 104},
                               {QStringLiteral("ladder"), QStringLiteral("yr")},
                               {QStringLiteral("username"), QStringLiteral("AliceToo")},
                               {QStringLiteral("badges"), QJsonArray()},
                               {QStringLiteral("clan_name"), QString()},
                               {QStringLiteral("clan_short"), QString()}});
    alice.insert(QStringLiteral("players"), players);
    accounts[0] = alice;
    data.insert(QStringLiteral("accounts"), accounts);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(QJsonDocument(data).toJson()) > 0;
}

bool FlowFixture::prepare(const QStringList &sandboxArgs, bool withService)
{
    if (!writeData(m_dataDir)) {
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
    m_window.reset(new MainWindow);
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
                   return state() == kReady && m_window->mapDownloader()->state() == 4
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

WarningDialog *FlowFixture::warningDialog() const
{
    return m_window->findChild<WarningDialog *>();
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
