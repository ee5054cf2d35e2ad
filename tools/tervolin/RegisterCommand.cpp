// tervolin register | unregister: the COM self-registration of Tervolin.dll.
#include <windows.h>

#include "Commands.h"
#include "Console.h"
#include "base/ErrorText.h"
#include "base/Exception.h"
#include "ServerModule.h"

namespace {

int RunRegistration(const Arguments& arguments, const char* exportName, const wchar_t* usage)
{
    if (!arguments.empty()) {
        const bool help = arguments[0] == L"--help" || arguments[0] == L"-h";
        (help ? PrintOut : PrintError)(std::wstring(L"usage: ") + usage + L"\n");
        return help ? c_exitSuccess : c_exitUsage;
    }
    const HRESULT hr = ResultOfCall([&] { return ServerModule().Call(exportName); });
    if (SUCCEEDED(hr))
        return c_exitSuccess;
    PrintError(L"tervolin: " + DescribeResult(hr) + L"\n");
    return c_exitFailure;
}

} // namespace

int RunRegisterCommand(const Arguments& arguments)
{
    return RunRegistration(arguments, "DllRegisterServer",
                           L"tervolin register     registers the automation classes of Tervolin.dll");
}

int RunUnregisterCommand(const Arguments& arguments)
{
    return RunRegistration(arguments, "DllUnregisterServer",
                           L"tervolin unregister   removes the registration of Tervolin.dll");
}
