#include "platform/processlist.h"

#include <windows.h>
#include <psapi.h>

namespace Platform {

QString unknownProcessName()
{
    return QStringLiteral("<unknown>");
}

QList<ProcessEntry> runningProcesses()
{
    QList<ProcessEntry> result;
    DWORD ids[2048];
    DWORD bytes = 0;
    if (!EnumProcesses(ids, sizeof(ids), &bytes))
        return result;
    const DWORD count = bytes / sizeof(DWORD);
    for (DWORD i = 0; i < count; ++i) {
        if (ids[i] == 0)
            continue;
        QString name = unknownProcessName();
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (process) {
            HMODULE module;
            DWORD needed = 0;
            if (EnumProcessModules(process, &module, sizeof(module), &needed)) {
                char base[260];
                const DWORD len = GetModuleBaseNameA(process, module, base, sizeof(base));
                if (len > 0)
                    name = QString::fromUtf8(base, int(len));
            }
            CloseHandle(process);
        }
        result.append({quint32(ids[i]), name});
    }
    return result;
}

} // namespace Platform
