#pragma once

#include <QObject>
#include <QString>

class Session;
class WarningDialog;
class QWidget;

// The game's folder: the question asked before anything else when the
// program starts outside one (from the desktop menu), and the chooser
// behind it and behind the settings tab's button. A folder without a game
// is refused with the reason; a chosen one is remembered.
class GameFolderQuestion : public QObject
{
    Q_OBJECT
public:
    GameFolderQuestion(Session *session, QWidget *window);

    WarningDialog *dialog() const { return m_question; }
    // Asks once; again only after a refused folder.
    void ask();
    // The chooser; true when a folder holding a game was chosen.
    bool choose();
    // The question, its chooser or a chosen folder holds the session.
    bool holds() const;
    // Close at the question: nothing more to ask.
    bool closeAnswered() const { return m_closeAnswered; }

signals:
    // The program starts again in folder.
    void chosen(const QString &folder);
    void closeWanted();
    void noticeWanted(const QString &text);

private:
    void answered(int result);

    Session *m_session;
    QWidget *m_window;
    WarningDialog *m_question;
    bool m_choosing = false;
    bool m_chosen = false;
    bool m_closeAnswered = false;
};
