// Child process of the probe tests: installs its own unhandled-exception
// filter, loads the probe library beside it and lets an access violation in
// the library go unhandled. Exits with 42 when its filter was called.
#include <windows.h>

#include <string>

namespace {

constexpr UINT c_previousFilterCalled = 42;

LONG WINAPI ExitFromFilter(EXCEPTION_POINTERS*)
{
    ExitProcess(c_previousFilterCalled);
}

} // namespace

int wmain()
{
    SetUnhandledExceptionFilter(ExitFromFilter);
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring probe(path, length);
    probe.replace(probe.find_last_of(L'\\') + 1, std::wstring::npos, L"DiagnosticsProbe.dll");
    const HMODULE library = LoadLibraryW(probe.c_str());
    if (!library)
        return 2;
    const auto fault = reinterpret_cast<void (*)()>(GetProcAddress(library, "ProbeAccessViolation"));
    if (!fault)
        return 3;
    fault();
    return 1;
}
