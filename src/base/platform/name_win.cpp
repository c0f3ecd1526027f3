#include "platform/username.h"

#include <windows.h>
#include <lmcons.h>

namespace Platform {

QString userName()
{
    wchar_t buffer[UNLEN + 1];
    DWORD size = UNLEN + 1;
    if (!GetUserNameW(buffer, &size) || size == 0)
        return QString();
    return QString::fromWCharArray(buffer, int(size) - 1);
}

} // namespace Platform
