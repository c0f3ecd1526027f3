#include "ui/accountline.h"

#include "api/lorvaneapi.h"
#include "session/session.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

AccountLine::AccountLine(QWidget *parent)
    : QWidget(parent)
    , m_email(new QLabel(this))
    , m_logOut(new QPushButton(tr("Log Out"), this))
{
    setObjectName(QStringLiteral("accountLine"));
    m_email->setObjectName(QStringLiteral("accountLabel"));
    m_email->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_logOut->setObjectName(QStringLiteral("accountLogOutButton"));
    m_logOut->setCursor(Qt::PointingHandCursor);
    m_logOut->setToolTip(tr("Log out and show the login form"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(m_email);
    layout->addWidget(m_logOut);
    connect(m_logOut, &QPushButton::clicked, this, &AccountLine::logOutRequested);
}

void AccountLine::setEmailAddress(const QString &address)
{
    m_email->setText(address);
    setVisible(!address.isEmpty());
}

QString AccountLine::emailAddress() const
{
    return m_email->text();
}

void AccountLine::setLogOutEnabled(bool enabled)
{
    m_logOut->setEnabled(enabled);
}

void AccountLine::follow(Session *session)
{
    connect(this, &AccountLine::logOutRequested, session, &Session::logOut);
    connect(session, &Session::stateChanged, this, [this, session](quint32 state) {
        using namespace Zantry;
        const LorvaneAPI *api = session->api();
        setEmailAddress((state & LOGGED_IN) && api ? api->accountName() : QString());
        // A queue or a match holds the account.
        setLogOutEnabled(!(state & (MATCHUP_REQUESTED | MATCHUP_WAITFOR | MATCHUP_FOUND | NETWORK_READY | GAME_SPAWNED)));
    });
}
