#include "diagnostics/ExceptionReporting.h"

#include <cxxabi.h>

#include <atomic>
#include <tuple>
#include <typeinfo>

#include "base/Handle.h"
#include "diagnostics/ExceptionReport.h"

// The language runtime's throw routine. The module is linked with
// --wrap=__cxa_throw, so every throw in the module calls __wrap___cxa_throw
// and the original is reached under this name.
extern "C" [[noreturn]] void __real___cxa_throw(void* object, std::type_info* type,
                                             void(_GLIBCXX_CDTOR_CALLABI* destroy)(void*));

namespace {

// The first parameter of the exception record of a thrown object, as the
// platform's own C++ runtime writes it.
constexpr ULONG_PTR c_nativeExceptionMagic = 0x19930520;

CriticalSection g_section;
std::atomic<bool> g_installed{false};
std::atomic<DWORD> g_reportingThread{0};

// Set under the critical section before g_installed, read after it.
ExceptionReportModule g_module;
const BYTE* g_imageStart = nullptr;
const BYTE* g_imageEnd = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;
PVOID g_vectoredHandler = nullptr;

void Report(ExceptionReportKind kind, const EXCEPTION_RECORD& record, const CONTEXT& context) noexcept
{
    // An exception raised while this thread writes a report is not reported
    // again.
    if (!g_installed.load(std::memory_order_acquire) || g_reportingThread.load() == GetCurrentThreadId())
        return;
    CriticalSectionLock lock(g_section);
    if (!g_installed.load())
        return;
    g_reportingThread = GetCurrentThreadId();
    WriteExceptionReport(g_module, kind, record, context);
    g_reportingThread = 0;
}

// A report would need more stack than an overflowing thread has left.
bool CanReport(const EXCEPTION_RECORD& record) noexcept
{
    return record.ExceptionCode != EXCEPTION_STACK_OVERFLOW;
}

bool IsInModuleImage(const void* address) noexcept
{
    const auto* byte = static_cast<const BYTE*>(address);
    return byte >= g_imageStart && byte < g_imageEnd;
}

LONG CALLBACK ReportModuleFault(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if (g_installed.load(std::memory_order_acquire) && IsInModuleImage(record.ExceptionAddress) &&
        CanReport(record))
        Report(ExceptionReportKind::Exception, record, *pointers->ContextRecord);
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI ReportUnhandledException(EXCEPTION_POINTERS* pointers)
{
    LPTOP_LEVEL_EXCEPTION_FILTER previous;
    {
        CriticalSectionLock lock(g_section);
        previous = g_previousFilter;
        if (CanReport(*pointers->ExceptionRecord))
            Report(ExceptionReportKind::UnhandledException, *pointers->ExceptionRecord, *pointers->ContextRecord);
    }
    return previous ? previous(pointers) : EXCEPTION_EXECUTE_HANDLER;
}

// Describes a throw as an exception record and the thread state at the
// throw point: the caller of the throw routine, whose frame starts at
// `frame` (saved frame pointer, then return address). The address is taken
// inside the call instruction so that symbol and line name the throwing
// statement.
void ReportThrow(void* object, std::type_info* type, void* const* frame) noexcept
{
    const auto throwPoint = reinterpret_cast<ULONG_PTR>(frame[1]) - 1;

    EXCEPTION_RECORD record{};
    record.ExceptionCode = c_nativeExceptionCode;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.ExceptionAddress = reinterpret_cast<void*>(throwPoint);
    record.NumberParameters = 3;
    record.ExceptionInformation[0] = c_nativeExceptionMagic;
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(object);
    record.ExceptionInformation[2] = reinterpret_cast<ULONG_PTR>(type);

    CONTEXT context{};
#if defined(__x86_64__)
    // The 64-bit test build: this function's context is unwound through the
    // unwind tables until it stands at the return into the throwing frame,
    // which then starts the walk at the throw point.
    RtlCaptureContext(&context);
    const auto returnAddress = reinterpret_cast<DWORD64>(frame[1]);
    constexpr int c_reportingFrames = 8;
    for (int i = 0; i < c_reportingFrames && context.Rip != returnAddress; ++i) {
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
        if (!function)
            break;
        void* handlerData = nullptr;
        DWORD64 establisherFrame = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData,
                         &establisherFrame, nullptr);
    }
    context.Rip = throwPoint;
#else
    context.ContextFlags = CONTEXT_CONTROL;
    context.Eip = throwPoint;
    context.Ebp = reinterpret_cast<DWORD>(frame[0]);
    context.Esp = reinterpret_cast<DWORD>(frame + 2);
#endif
    Report(ExceptionReportKind::Exception, record, context);
}

std::pair<const BYTE*, const BYTE*> ImageRange(HMODULE module) noexcept
{
    const auto* start = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(start);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(start + dos->e_lfanew);
    return {start, start + nt->OptionalHeader.SizeOfImage};
}

} // namespace

extern "C" [[noreturn]] __attribute__((noinline, optimize("no-omit-frame-pointer"))) void
__wrap___cxa_throw(void* object, std::type_info* type, void(_GLIBCXX_CDTOR_CALLABI* destroy)(void*))
{
    if (g_installed.load(std::memory_order_acquire))
        ReportThrow(object, type, static_cast<void* const*>(__builtin_frame_address(0)));
    __real___cxa_throw(object, type, destroy);
}

void InstallExceptionReporting(HMODULE module) noexcept
{
    CriticalSectionLock lock(g_section);
    if (g_installed.load())
        return;
    try {
        g_module = DescribeReportingModule(module);
    } catch (...) {
        return; // without the module's name there is no log to write
    }
    PruneExceptionLog(g_module.log.primary);
    PruneExceptionLog(g_module.log.fallback);
    std::tie(g_imageStart, g_imageEnd) = ImageRange(module);
    g_previousFilter = SetUnhandledExceptionFilter(ReportUnhandledException);
    g_vectoredHandler = AddVectoredExceptionHandler(TRUE, ReportModuleFault);
    g_installed.store(true, std::memory_order_release);
}

void UninstallExceptionReporting() noexcept
{
    CriticalSectionLock lock(g_section);
    if (!g_installed.load())
        return;
    g_installed.store(false);
    if (g_vectoredHandler)
        RemoveVectoredExceptionHandler(g_vectoredHandler);
    g_vectoredHandler = nullptr;
    SetUnhandledExceptionFilter(g_previousFilter);
    g_previousFilter = nullptr;
}
