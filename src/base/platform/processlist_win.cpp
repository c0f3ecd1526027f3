#include "platform/processlist.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

namespace Platform {

QString unknownProcessName()
{
    return QStringLiteral("<unknown>");
}

quint32 parentProcessId(quint32 pid)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    quint32 parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == pid) {
            parent = quint32(entry.th32ParentProcessID);
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
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
