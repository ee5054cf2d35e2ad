// DllRegisterServer and DllUnregisterServer: the application id script,
// one class script per entry of the class object table and the type
// library, all from the module's own resources.
#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>

#include "RegistryResources.h"
#include "base/Handle.h"
#include "base/Text.h"
#include "module/ClassObjects.h"
#include "module/Module.h"
#include "module/RegistryScript.h"

namespace {

const wchar_t c_moduleGuid[] = L"{BE077F06-4827-42DE-B00F-6C083CAE540D}"; // application id = type library id

// The thread locale is the system default while the scripts run, and is
// restored on every path.
class SystemThreadLocale
{
public:
    SystemThreadLocale() noexcept : m_saved(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~SystemThreadLocale() { SetThreadLocale(m_saved); }
    SystemThreadLocale(const SystemThreadLocale&) = delete;
    SystemThreadLocale& operator=(const SystemThreadLocale&) = delete;

private:
    LCID m_saved;
};

RegistryReplacements CommonReplacements()
{
    const std::wstring path = ModuleFileName();
    std::wstring quoted;
    for (wchar_t c : path) {
        quoted.push_back(c);
        if (c == L'\'')
            quoted.push_back(c);
    }
    const bool executable = SHGetFileInfoW(path.c_str(), 0, nullptr, 0, SHGFI_EXETYPE) != 0;
    return {
        {L"Module", quoted},
        {L"Module_Raw", path},
        {L"MODULEGUID", c_moduleGuid},
        {L"MODULETYPE", executable ? L"LocalServer32" : L"InprocServer32"},
        {L"APPID", c_moduleGuid},
    };
}

std::vector<RegistryRoot> LoadScript(WORD id, const RegistryReplacements& replacements)
{
    const HMODULE module = ModuleInstance();
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
    ThrowLastErrorIf(!found);
    const HGLOBAL loaded = LoadResource(module, found);
    ThrowLastErrorIf(!loaded);
    const auto* bytes = static_cast<const char*>(LockResource(loaded));
    const std::wstring text = AnsiToWide(std::string_view(bytes, SizeofResource(module, found)));
    return ParseRegistryScript(ReplacePlaceholders(text, replacements));
}

std::vector<RegistryRoot> ClassScript(const ClassObjectEntry& entry, RegistryReplacements replacements)
{
    replacements[L"FriendlyName"] = entry.friendlyName;
    return LoadScript(entry.registryScript, replacements);
}

// The library from the module file, else from the .tlb file beside it.
ComPtr<ITypeLib> LoadRegistrationTypeLibrary(std::wstring& path)
{
    path = ModuleFileName();
    ComPtr<ITypeLib> library;
    if (SUCCEEDED(LoadTypeLib(path.c_str(), library.Put())))
        return library;
    const size_t dot = path.find_last_of(L'.');
    const size_t slash = path.find_last_of(L"\\/");
    path = (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash) ? path.substr(0, dot) : path) +
           L".tlb";
    if (path.size() >= MAX_PATH)
        ThrowHr(E_FAIL);
    ThrowIfFailed(LoadTypeLib(path.c_str(), library.Put()));
    return library;
}

void RegisterModuleTypeLibrary()
{
    std::wstring path;
    ComPtr<ITypeLib> library = LoadRegistrationTypeLibrary(path);
    BSTR helpFile = nullptr;
    std::wstring helpDirectory;
    if (SUCCEEDED(library->GetDocumentation(-1, nullptr, nullptr, nullptr, &helpFile)) && helpFile) {
        helpDirectory = helpFile;
        SysFreeString(helpFile);
        const size_t slash = helpDirectory.find_last_of(L"\\/");
        helpDirectory.resize(slash == std::wstring::npos ? 0 : slash);
    }
    ThrowIfFailed(RegisterTypeLib(library.Get(), path.data(),
                                  helpDirectory.empty() ? nullptr : helpDirectory.data()));
}

void UnregisterModuleTypeLibrary()
{
    std::wstring path;
    ComPtr<ITypeLib> library = LoadRegistrationTypeLibrary(path);
    TLIBATTR* attributes = nullptr;
    ThrowIfFailed(library->GetLibAttr(&attributes));
    ScopeExit release([&] { library->ReleaseTLibAttr(attributes); });
    ThrowIfFailed(UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                    attributes->lcid, attributes->syskind));
}

} // namespace

extern "C" HRESULT WINAPI DllRegisterServer()
{
    SystemThreadLocale locale;
    try {
        const RegistryReplacements replacements = CommonReplacements();
        RegisterScript(LoadScript(IDR_TERVOLIN, replacements));
        for (const auto& entry : ClassObjects())
            RegisterScript(ClassScript(entry, replacements));
        RegisterModuleTypeLibrary();
        return S_OK;
    } catch (...) {
        return ResultFromCaughtException();
    }
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    SystemThreadLocale locale;
    try {
        const RegistryReplacements replacements = CommonReplacements();
        for (const auto& entry : ClassObjects())
            UnregisterScript(ClassScript(entry, replacements));
        UnregisterModuleTypeLibrary();
        UnregisterScript(LoadScript(IDR_TERVOLIN, replacements));
        return S_OK;
    } catch (...) {
        return ResultFromCaughtException();
    }
}
