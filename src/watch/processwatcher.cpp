#include "watch/processwatcher.h"

ProcessWatcher::ProcessWatcher(QObject *parent)
    : QObject(parent)
{
}
