#include "diagnostics/CallStack.h"

#include <dbghelp.h>

#include <cstddef>
#include <string>

#include "base/Exception.h"
#include "base/FilePath.h"
#include "base/ModuleFile.h"
#include "base/Text.h"
#include "diagnostics/ExceptionReport.h"

namespace {

constexpr DWORD c_symbolOptions = SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES | SYMOPT_FAIL_CRITICAL_ERRORS;
constexpr size_t c_searchPathLimit = 16384;
constexpr DWORD c_environmentCharacters = 1040;
constexpr DWORD c_symbolNameCharacters = 224;
// The module information structure of older versions of the library ends
// before the name of the loaded symbol file.
constexpr DWORD c_olderModuleInfoSize = offsetof(IMAGEHLP_MODULE64, LoadedPdbName);

constexpr const wchar_t* c_symbolPathVariables[] = {L"PATH", L"_NT_SYMBOL_PATH", L"_NT_ALTERNATE_SYMBOL_PATH"};

// The entry points of the debug-help library that reports use.
struct DebugHelp
{
    decltype(&SymGetOptions) getOptions = nullptr;
    decltype(&SymSetOptions) setOptions = nullptr;
    decltype(&SymInitializeW) initialize = nullptr;
    decltype(&SymRefreshModuleList) refreshModuleList = nullptr;
    decltype(&StackWalk64) stackWalk = nullptr;
    decltype(&SymFunctionTableAccess64) functionTableAccess = nullptr;
    decltype(&SymGetModuleBase64) getModuleBase = nullptr;
    decltype(&SymGetModuleInfo64) getModuleInfo = nullptr;
    decltype(&SymLoadModule64) loadModule = nullptr;
    decltype(&SymGetSymFromAddr64) getSymbol = nullptr;
    decltype(&SymGetLineFromAddr64) getLine = nullptr;
};

enum class SymbolHandlerState
{
    NotTried,
    Ready,
    Failed,
};

// Process-wide; used only by the thread that writes a report, and reports
// are written one at a time.
SymbolHandlerState g_state = SymbolHandlerState::NotTried;
DebugHelp g_help;

template <typename Function>
void Resolve(HMODULE library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(GetProcAddress(library, name));
    if (!function)
        ThrowLastError();
}

// Loads the library from the system folder. It stays loaded for the life of
// the process, as the symbol handler stays initialised.
DebugHelp LoadDebugHelp()
{
    const std::wstring folder =
        GrowingSystemText([](wchar_t* buffer, DWORD size) { return GetSystemDirectoryW(buffer, size); });
    ThrowLastErrorIf(folder.empty());
    const HMODULE library = LoadLibraryW((folder + L"\\dbghelp.dll").c_str());
    ThrowLastErrorIf(!library);
    DebugHelp help;
    Resolve(library, "SymGetOptions", help.getOptions);
    Resolve(library, "SymSetOptions", help.setOptions);
    Resolve(library, "SymInitializeW", help.initialize);
    Resolve(library, "StackWalk64", help.stackWalk);
    Resolve(library, "SymFunctionTableAccess64", help.functionTableAccess);
    Resolve(library, "SymGetModuleBase64", help.getModuleBase);
    Resolve(library, "SymGetModuleInfo64", help.getModuleInfo);
    Resolve(library, "SymLoadModule64", help.loadModule);
    Resolve(library, "SymGetSymFromAddr64", help.getSymbol);
    Resolve(library, "SymGetLineFromAddr64", help.getLine);
    help.refreshModuleList =
        reinterpret_cast<decltype(&SymRefreshModuleList)>(GetProcAddress(library, "SymRefreshModuleList"));
    return help;
}

void InitializeSymbolHandler(HMODULE module)
{
    DebugHelp help = LoadDebugHelp();
    const HANDLE process = GetCurrentProcess();
    help.setOptions(help.getOptions() | c_symbolOptions);
    ThrowLastErrorIf(!help.initialize(process, SymbolSearchPath(module).c_str(), TRUE));
    // Another component, or an earlier load of this module, may have
    // initialised the handler for the process before: it then keeps its old
    // module list, which may lack this module.
    if (help.refreshModuleList)
        help.refreshModuleList(process);
    g_help = help;
}

bool SymbolHandlerReady(HMODULE module) noexcept
{
    if (g_state == SymbolHandlerState::NotTried) {
        try {
            InitializeSymbolHandler(module);
            g_state = SymbolHandlerState::Ready;
        } catch (...) {
            g_state = SymbolHandlerState::Failed;
        }
    }
    return g_state == SymbolHandlerState::Ready;
}

bool ModuleInfo(DWORD64 address, IMAGEHLP_MODULE64& info) noexcept
{
    const HANDLE process = GetCurrentProcess();
    for (DWORD size : {DWORD{sizeof info}, c_olderModuleInfoSize}) {
        info = IMAGEHLP_MODULE64{};
        info.SizeOfStruct = size;
        if (g_help.getModuleInfo(process, address, &info))
            return true;
    }
    return false;
}

bool ModuleInfoWithSymbols(DWORD64 address, IMAGEHLP_MODULE64& info) noexcept
{
    if (!ModuleInfo(address, info))
        return false;
    if (info.SymType == SymDeferred) {
        g_help.loadModule(GetCurrentProcess(), nullptr, info.ImageName, info.ModuleName, info.BaseOfImage, 0);
        ModuleInfo(address, info);
    }
    return true;
}

void WriteFrame(ExceptionReportWriter& writer, DWORD64 address)
{
    const HANDLE process = GetCurrentProcess();
    const DWORD shortAddress = static_cast<DWORD>(address);
    IMAGEHLP_MODULE64 module;
    if (!ModuleInfoWithSymbols(address, module)) {
        writer.Line(L"!0x%08x", shortAddress);
        return;
    }

    alignas(IMAGEHLP_SYMBOL64) BYTE symbolBuffer[sizeof(IMAGEHLP_SYMBOL64) + c_symbolNameCharacters];
    auto* symbol = reinterpret_cast<IMAGEHLP_SYMBOL64*>(symbolBuffer);
    *symbol = IMAGEHLP_SYMBOL64{};
    symbol->SizeOfStruct = sizeof *symbol;
    symbol->MaxNameLength = c_symbolNameCharacters;
    DWORD64 symbolDisplacement = 0;
    const bool hasSymbol = g_help.getSymbol(process, address, &symbolDisplacement, symbol);

    IMAGEHLP_LINE64 line{};
    line.SizeOfStruct = sizeof line;
    DWORD lineDisplacement = 0;
    const bool hasLine = g_help.getLine(process, address, &lineDisplacement, &line);

    const int symbolOffset = static_cast<int>(symbolDisplacement);
    const int lineOffset = static_cast<int>(lineDisplacement);
    const int lineNumber = static_cast<int>(line.LineNumber);
    if (hasSymbol && hasLine)
        writer.Line(L"%hs!0x%08x %hs (+ %d) [%hs, %d] (+ %d)", module.ModuleName, shortAddress, symbol->Name,
                    symbolOffset, line.FileName, lineNumber, lineOffset);
    else if (hasSymbol)
        writer.Line(L"%hs!0x%08x %hs (+ %d)", module.ModuleName, shortAddress, symbol->Name, symbolOffset);
    else if (hasLine)
        writer.Line(L"%hs!0x%08x [%hs, %d] (+ %d)", module.ModuleName, shortAddress, line.FileName, lineNumber,
                    lineOffset);
    else
        writer.Line(L"%hs!0x%08x", module.ModuleName, shortAddress);
}

void AddSearchPathEntry(std::wstring& path, std::wstring_view entry)
{
    if (!entry.empty() && path.size() + entry.size() + 1 <= c_searchPathLimit) {
        path += entry;
        path += L';';
    }
}

std::wstring EnvironmentEntry(const wchar_t* name)
{
    wchar_t value[c_environmentCharacters];
    const DWORD length = GetEnvironmentVariableW(name, value, c_environmentCharacters);
    return length < c_environmentCharacters ? std::wstring(value, length) : std::wstring();
}

// "C:\" for "C:\Windows".
std::wstring WindowsRoot()
{
    const std::wstring windows =
        GrowingSystemText([](wchar_t* buffer, DWORD size) { return GetWindowsDirectoryW(buffer, size); });
    if (windows.empty())
        return {};
    return windows.substr(0, windows.find(L'\\') + 1);
}

} // namespace

std::wstring SymbolSearchPath(HMODULE module)
{
    std::wstring path;
    const std::wstring modulePath = ModuleFilePath(module);
    const std::wstring folder = FolderOf(modulePath);
    AddSearchPathEntry(path, folder);
    AddSearchPathEntry(path, FolderOf(folder));
    for (const wchar_t* name : c_symbolPathVariables)
        AddSearchPathEntry(path, EnvironmentEntry(name));
    const std::wstring root = WindowsRoot();
    AddSearchPathEntry(path, root);
    if (!EqualsIgnoreCase(root, L"C:\\"))
        AddSearchPathEntry(path, L"C:\\");
    return path;
}

void WriteCallStack(ExceptionReportWriter& writer, HMODULE module, const CONTEXT& context) noexcept
{
    if (!SymbolHandlerReady(module))
        return;
    CONTEXT walked = context;
    STACKFRAME64 frame{};
#if defined(__x86_64__)
    // The 64-bit test build: the walk follows the unwind tables.
    constexpr DWORD machine = IMAGE_FILE_MACHINE_AMD64;
    frame.AddrPC.Offset = walked.Rip;
    frame.AddrFrame.Offset = walked.Rbp;
    frame.AddrStack.Offset = walked.Rsp;
#else
    constexpr DWORD machine = IMAGE_FILE_MACHINE_I386;
    frame.AddrPC.Offset = walked.Eip;
    frame.AddrFrame.Offset = walked.Ebp;
    frame.AddrStack.Offset = walked.Esp;
#endif
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Mode = AddrModeFlat;
    for (int i = 0; i < c_callStackFrameLimit &&
                    g_help.stackWalk(machine, GetCurrentProcess(), nullptr, &frame, &walked, nullptr,
                                     g_help.functionTableAccess, g_help.getModuleBase, nullptr);
         ++i) {
        if (i == 0)
            writer.Line(L"** Call Stack");
        WriteFrame(writer, frame.AddrPC.Offset);
    }
}
