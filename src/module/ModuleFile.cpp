#include "module/Module.h"

#include "base/Exception.h"

std::wstring ModuleFileName()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(ModuleInstance(), path, MAX_PATH);
    if (length == 0)
        ThrowLastError();
    if (length >= MAX_PATH)
        ThrowHr(HResultFromWin32(ERROR_INSUFFICIENT_BUFFER));
    return std::wstring(path, length);
}
