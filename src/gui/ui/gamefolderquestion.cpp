#include "ui/gamefolderquestion.h"

#include "session/session.h"
#include "spawn/spawnablegame.h"
#include "util/settings.h"
#include "ui/warningdialog.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>

using namespace Zantry;

GameFolderQuestion::GameFolderQuestion(Session *session, QWidget *window)
    : QObject(window)
    , m_session(session)
    , m_window(window)
    , m_question(new WarningDialog(QStringLiteral("Please run Zantry from a Lorvane game folder."),
                                   QDialogButtonBox::Open | QDialogButtonBox::Close, window))
{
    m_question->setButtonText(QDialogButtonBox::Open, tr("Choose Game Folder"));
    m_question->setWindowModality(Qt::ApplicationModal);
    connect(m_question, &QDialog::finished, this, &GameFolderQuestion::answered);
}

bool GameFolderQuestion::holds() const
{
    return m_question->isVisible() || m_choosing || m_chosen;
}

void GameFolderQuestion::ask()
{
    m_session->hold();
    if (holds() || m_closeAnswered)
        return;
    m_question->show();
}

void GameFolderQuestion::answered(int result)
{
    if (result != QDialog::Accepted) {
        // Close, Escape or the title bar's close: without a game there is
        // nothing to stay for, and nothing more to ask.
        qDebug() << "Closing 6";
        m_closeAnswered = true;
        emit closeWanted();
        return;
    }
    m_choosing = true;
    m_chosen = choose();
    m_choosing = false;
    // A folder without a game was refused with its reason: asked again.
    ask();
}

bool GameFolderQuestion::choose()
{
    // The program starts again in the new folder: not in the middle of a match.
    if (m_session->state() & (MATCHUP_REQUESTED | MATCHUP_WAITFOR | MATCHUP_FOUND | NETWORK_READY | GAME_SPAWNED)) {
        emit noticeWanted(tr("Leave the queue or finish the match first, then change the game folder."));
        return false;
    }
    // Outside a game folder the program works in its data folder, which is
    // no place to start looking from.
    const QString start = SpawnableGame::holdsGame(QDir::currentPath()) ? QDir::currentPath() : QDir::homePath();
    QFileDialog chooser(m_window, tr("Choose the folder your game is installed in"), start);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    // Answered while the window is hidden (the folder question), it must
    // not count as the program's last window closing.
    chooser.setAttribute(Qt::WA_QuitOnClose, false);
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().value(0).isEmpty())
        return false;
    const QString dir = chooser.selectedFiles().constFirst();
    if (!SpawnableGame::holdsGame(dir)) {
        emit noticeWanted(
            tr("No Lorvane game was found in %1.\nThe game's folder holds morvel.exe, quillon.exe or fennick.exe.")
                .arg(QDir::toNativeSeparators(dir)));
        return false;
    }
    Settings::setGameFolder(dir);
    qDebug().noquote() << "Game folder chosen: " + dir;
    emit chosen(dir);
    return true;
}
