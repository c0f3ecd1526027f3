#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

class DataSet;

// Bearer tokens: each account's fixed token from the data set, plus every
// token handed out by login or refresh. Old tokens stay valid.
class TokenStore
{
public:
    explicit TokenStore(const DataSet &data);

    QString issue(const QString &email); // a new token for the account
    QString email(const QString &token) const; // empty when unknown
    QString newSession();

private:
    mutable QMutex m_mutex;
    QHash<QString, QString> m_emails;
    int m_counter = 0;
};
