// DllRegisterServer and DllUnregisterServer: the application id script,
// one class script per entry of the class object table and the type
// library, all from the module's own resources.
//
// DllInstall registers the same for the calling user only, under
// HKEY_CURRENT_USER\Software\Classes, when its command line is "user":
//   regsvr32 /n /i:user Tervolin.dll       registers for the current user
//   regsvr32 /u /n /i:user Tervolin.dll    removes that registration
// With an empty command line it registers for the machine, as
// DllRegisterServer does.
#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>

#include "RegistryResources.h"
#include "base/Handle.h"
#include "base/ModuleState.h"
#include "base/Text.h"
#include "module/ClassObjects.h"
#include "module/RegistryScript.h"

// The per-user forms of the type library calls (oleaut32, Windows Vista and
// later), which the compiler's headers do not declare.
extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpDirectory);
extern "C" HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID library, WORD major, WORD minor, LCID locale,
                                                   SYSKIND system);

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

// Whose classes a registration writes: every user's (HKEY_CLASSES_ROOT) or
// the calling user's own (HKEY_CURRENT_USER\Software\Classes).
enum class RegistrationScope
{
    Machine,
    User,
};

// The scripts name HKEY_CLASSES_ROOT, and the system's type library
// registration writes there too. For a per-user registration the guard
// redirects that root to HKEY_CURRENT_USER\Software\Classes while it lives,
// so that every key lands with the user. The redirection holds for the whole
// process; registration runs on the one thread of an installer or regsvr32.
class ClassesRootForScope
{
public:
    explicit ClassesRootForScope(RegistrationScope scope)
    {
        if (scope == RegistrationScope::Machine)
            return;
        UniqueHKey userClasses;
        ThrowIfRegistryFailed(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                                              KEY_ALL_ACCESS, nullptr, userClasses.Put(), nullptr));
        ThrowIfRegistryFailed(RegOverridePredefKey(HKEY_CLASSES_ROOT, userClasses.Get()));
        m_overridden = true;
    }
    ~ClassesRootForScope()
    {
        if (m_overridden)
            RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    }
    ClassesRootForScope(const ClassesRootForScope&) = delete;
    ClassesRootForScope& operator=(const ClassesRootForScope&) = delete;

private:
    static void ThrowIfRegistryFailed(LSTATUS status)
    {
        if (status != ERROR_SUCCESS)
            ThrowWin32(static_cast<DWORD>(status));
    }

    bool m_overridden = false;
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
    // The type library loader keeps paths in MAX_PATH buffers: a longer path
    // is refused here, with its name, before it gets there.
    if (path.size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ThrowLastErrorFor(path);
    }
    ThrowIfFailed(LoadTypeLib(path.c_str(), library.Put()));
    return library;
}

void RegisterModuleTypeLibrary(RegistrationScope scope)
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
    const auto registerTypeLib = scope == RegistrationScope::User ? RegisterTypeLibForUser : RegisterTypeLib;
    ThrowIfFailed(registerTypeLib(library.Get(), path.data(), helpDirectory.empty() ? nullptr : helpDirectory.data()));
}

void UnregisterModuleTypeLibrary(RegistrationScope scope)
{
    std::wstring path;
    ComPtr<ITypeLib> library = LoadRegistrationTypeLibrary(path);
    TLIBATTR* attributes = nullptr;
    ThrowIfFailed(library->GetLibAttr(&attributes));
    ScopeExit release([&] { library->ReleaseTLibAttr(attributes); });
    const auto unregisterTypeLib = scope == RegistrationScope::User ? UnRegisterTypeLibForUser : UnRegisterTypeLib;
    ThrowIfFailed(unregisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                    attributes->lcid, attributes->syskind));
}

HRESULT RegisterServer(RegistrationScope scope) noexcept
{
    SystemThreadLocale locale;
    return ResultOfCall([&]() -> HRESULT {
        ClassesRootForScope classesRoot(scope);
        const RegistryReplacements replacements = CommonReplacements();
        RegisterScript(LoadScript(IDR_TERVOLIN, replacements));
        for (const auto& entry : ClassObjects())
            RegisterScript(ClassScript(entry, replacements));
        RegisterModuleTypeLibrary(scope);
        return S_OK;
    });
}

HRESULT UnregisterServer(RegistrationScope scope) noexcept
{
    SystemThreadLocale locale;
    return ResultOfCall([&]() -> HRESULT {
        ClassesRootForScope classesRoot(scope);
        const RegistryReplacements replacements = CommonReplacements();
        for (const auto& entry : ClassObjects())
            UnregisterScript(ClassScript(entry, replacements));
        UnregisterModuleTypeLibrary(scope);
        UnregisterScript(LoadScript(IDR_TERVOLIN, replacements));
        return S_OK;
    });
}

} // namespace

extern "C" HRESULT WINAPI DllRegisterServer()
{
    return RegisterServer(RegistrationScope::Machine);
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    return UnregisterServer(RegistrationScope::Machine);
}

extern "C" HRESULT WINAPI DllInstall(BOOL install, LPCWSTR commandLine)
{
    const std::wstring_view scopeName = commandLine ? commandLine : L"";
    RegistrationScope scope = RegistrationScope::Machine;
    if (EqualsIgnoreCase(scopeName, L"user"))
        scope = RegistrationScope::User;
    else if (!scopeName.empty())
        return E_INVALIDARG;
    return install ? RegisterServer(scope) : UnregisterServer(scope);
}
