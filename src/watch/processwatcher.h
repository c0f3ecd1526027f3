#pragma once

#include <QObject>

// Watches the running processes for names on the user's watch list.
class ProcessWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ProcessWatcher(QObject *parent = nullptr);

signals:
    void triggered();
    void cleared();
};
