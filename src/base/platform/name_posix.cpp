#include "platform/username.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace Platform {

QString userName()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = 16384;
    std::vector<char> buffer(size_t(size), 0);
    passwd pw{};
    passwd *result = nullptr;
    if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &result) != 0 || !result || !result->pw_name)
        return QString();
    return QString::fromLocal8Bit(result->pw_name);
}

} // namespace Platform
