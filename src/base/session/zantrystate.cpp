#include "session/zantrystate.h"

#include <QMetaEnum>

namespace Zantry {

QByteArray stateNames(quint32 state)
{
    const QMetaEnum meta = QMetaEnum::fromType<ZANTRY_STATE>();
    if (state == 0)
        return QByteArray();
    // valueToKeys() would name STATE_ALL for any value; only all bits earn it.
    QByteArray names;
    for (int i = 0; i < meta.keyCount(); ++i) {
        const quint32 v = quint32(meta.value(i));
        if (v == STATE_ALL && state != STATE_ALL)
            continue;
        if ((state & v) == v) {
            if (!names.isEmpty())
                names += '|';
            names += meta.key(i);
        }
    }
    return names;
}

} // namespace Zantry
