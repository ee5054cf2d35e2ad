// tervolin language de|en|system: the language of the wizards and boxes of
// Tervolin.dll for the current user. The module reads the REG_DWORD
// "Tervolin" under HKEY_CURRENT_USER\SOFTWARE\Norvask\Tervolin\Locale at
// load; without it, the user's language of Windows decides.
#include <windows.h>

#include "CommandBoundary.h"
#include "Commands.h"
#include "Console.h"
#include "base/ErrorText.h"
#include "base/Exception.h"
#include "base/Handle.h"

namespace {

constexpr wchar_t c_localeKey[] = L"SOFTWARE\\Norvask\\Tervolin\\Locale";
constexpr wchar_t c_valueName[] = L"Tervolin";

constexpr wchar_t c_usage[] =
    L"usage: tervolin language de|en|system\n"
    L"\n"
    L"Chooses the language of the wizards and message boxes of Tervolin.dll for the\n"
    L"current user, from the next start of a wizard on:\n"
    L"  de       German (sets the REG_DWORD \"Tervolin\" to 1031)\n"
    L"  en       English (sets it to 1033)\n"
    L"  system   the user's language of Windows (removes the value)\n"
    L"The value is HKEY_CURRENT_USER\\SOFTWARE\\Norvask\\Tervolin\\Locale, \"Tervolin\".\n";

struct Language
{
    const wchar_t* name;
    DWORD locale; // 0: the value is removed
};

const Language c_languages[] = {{L"de", 1031}, {L"en", 1033}, {L"system", 0}};

void SetLanguage(DWORD locale)
{
    UniqueHKey key;
    ThrowIfFailed(HResultFromWin32(RegCreateKeyExW(HKEY_CURRENT_USER, c_localeKey, 0, nullptr, 0,
                                                   KEY_SET_VALUE, nullptr, key.Put(), nullptr)));
    if (locale != 0) {
        ThrowIfFailed(HResultFromWin32(RegSetValueExW(key.Get(), c_valueName, 0, REG_DWORD,
                                                      reinterpret_cast<const BYTE*>(&locale), sizeof locale)));
        return;
    }
    const LSTATUS status = RegDeleteValueW(key.Get(), c_valueName);
    if (status != ERROR_FILE_NOT_FOUND)
        ThrowIfFailed(HResultFromWin32(status));
}

} // namespace

int RunLanguageCommand(const Arguments& arguments)
{
    if (arguments.size() == 1 && (arguments[0] == L"--help" || arguments[0] == L"-h")) {
        PrintOut(c_usage);
        return c_exitSuccess;
    }
    for (const auto& language : c_languages) {
        if (arguments.size() != 1 || arguments[0] != language.name)
            continue;
        return RunReportingFailure({}, [&] {
            SetLanguage(language.locale);
            return c_exitSuccess;
        });
    }
    PrintError(c_usage);
    return c_exitUsage;
}
