#include "platform/crashcapture.h"

#include <QDir>

#include <windows.h>
#include <dbghelp.h>
#include <cstdint>
#include <cwchar>

namespace Platform {

namespace {

// Filled by installCrashCapture(); the filter itself only formats into
// fixed buffers and calls the system.
wchar_t s_dir[MAX_PATH];
wchar_t s_logPath[MAX_PATH];

// Thread stacks and thread details, filtered down to what a stack walk
// needs: no heap, where the bearer token and the password live.
const MINIDUMP_TYPE kDumpType = MINIDUMP_TYPE(MiniDumpNormal | MiniDumpWithThreadInfo | MiniDumpFilterMemory);

LONG WINAPI crashFilter(EXCEPTION_POINTERS *info)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    const auto address = static_cast<unsigned long long>(
        reinterpret_cast<uintptr_t>(info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionAddress : nullptr));

    wchar_t stem[MAX_PATH];
    wchar_t dumpPath[MAX_PATH];
    wchar_t logCopy[MAX_PATH];
    _snwprintf(stem, MAX_PATH, L"%ls\\%llx-%04d%02d%02d-%02d%02d%02d-%ld", s_dir, address, t.wYear, t.wMonth, t.wDay,
               t.wHour, t.wMinute, t.wSecond, long(GetCurrentThreadId()));
    stem[MAX_PATH - 1] = L'\0';
    _snwprintf(dumpPath, MAX_PATH, L"%ls.dmp", stem);
    dumpPath[MAX_PATH - 1] = L'\0';
    _snwprintf(logCopy, MAX_PATH, L"%ls.log", stem);
    logCopy[MAX_PATH - 1] = L'\0';

    HANDLE file = CreateFileW(dumpPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        MINIDUMP_EXCEPTION_INFORMATION exception;
        exception.ThreadId = GetCurrentThreadId();
        exception.ExceptionPointers = info;
        exception.ClientPointers = TRUE;
        MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, kDumpType, &exception, nullptr, nullptr);
        CloseHandle(file);
    }
    CopyFileW(s_logPath, logCopy, FALSE);
    // The system's own crash handling follows.
    return EXCEPTION_CONTINUE_SEARCH;
}

bool copyPath(wchar_t *to, const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    if (native.size() + 64 >= MAX_PATH)
        return false;
    native.toWCharArray(to);
    to[native.size()] = L'\0';
    return true;
}

} // namespace

bool installCrashCapture(const QString &dataDir, const QString &logPath, const QString &version)
{
    Q_UNUSED(version)
    if (!copyPath(s_dir, QDir(dataDir).absolutePath()) || !copyPath(s_logPath, QFileInfo(logPath).absoluteFilePath()))
        return false;
    SetUnhandledExceptionFilter(crashFilter);
    return true;
}

} // namespace Platform
