#include "app/crashhandler.h"

CrashHandler *CrashHandler::instance()
{
    static CrashHandler *handler = new CrashHandler;
    return handler;
}

void CrashHandler::install()
{
}
