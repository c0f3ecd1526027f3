#include "tokenstore.h"

#include "dataset.h"

#include <QRandomGenerator>

TokenStore::TokenStore(const DataSet &data)
{
    for (const AccountDef &a : data.accounts) {
        if (!a.token.isEmpty())
            m_emails.insert(a.token, a.email);
    }
}

QString TokenStore::issue(const QString &email)
{
    QMutexLocker lock(&m_mutex);
    const QString token = QStringLiteral("sbx%1.%2").arg(++m_counter).arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    m_emails.insert(token, email);
    return token;
}

QString TokenStore::email(const QString &token) const
{
    QMutexLocker lock(&m_mutex);
    return m_emails.value(token);
}

QString TokenStore::newSession()
{
    QMutexLocker lock(&m_mutex);
    return QStringLiteral("session-%1").arg(++m_counter);
}
