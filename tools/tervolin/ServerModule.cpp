#include "ServerModule.h"

#include <string>

ServerModule::ServerModule()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    ThrowLastErrorIf(length == 0 || length == MAX_PATH);
    std::wstring module(path, length);
    module.resize(module.find_last_of(L"\\/") + 1);
    module += L"Tervolin.dll";
    m_module.Reset(LoadLibraryW(module.c_str()));
    if (!m_module)
        ThrowLastErrorFor(module);
}
