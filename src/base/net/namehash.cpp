#include "net/spawninfo.h"

quint32 nameHash(const QString &name)
{
    quint32 h = 0;
    const QByteArray bytes = name.toUtf8();
    for (char c : bytes)
        h = h * 65599u + quint8(c);
    return h;
}
