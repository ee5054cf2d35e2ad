#include "Console.h"

#include <windows.h>

#include <algorithm>
#include <type_traits>

#include "Commands.h"
#include "base/ErrorText.h"
#include "base/Text.h"

namespace {

// Older consoles refuse a single write of much more than 26,000
// characters; files and pipes take any size but may write less than asked.
constexpr size_t c_consoleChunkCharacters = 8192;

// The first failure of each stream; 0 while all went well.
DWORD g_outputFailure = 0;
DWORD g_errorFailure = 0;

bool IsClosedPipe(DWORD error)
{
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA;
}

DWORD FailureOfLastWrite()
{
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_WRITE_FAULT;
}

DWORD WriteToConsole(HANDLE console, std::wstring_view text)
{
    while (!text.empty()) {
        size_t count = std::min(text.size(), c_consoleChunkCharacters);
        if (count < text.size() && IS_HIGH_SURROGATE(text[count - 1]))
            --count; // keep a surrogate pair in one write
        DWORD written = 0;
        if (!WriteConsoleW(console, text.data(), static_cast<DWORD>(count), &written, nullptr) || written == 0)
            return FailureOfLastWrite();
        text.remove_prefix(std::min<size_t>(written, text.size()));
    }
    return 0;
}

DWORD WriteToFile(HANDLE file, std::string_view bytes)
{
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto count = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
        if (!WriteFile(file, bytes.data(), count, &written, nullptr) || written == 0)
            return FailureOfLastWrite();
        bytes.remove_prefix(std::min<size_t>(written, bytes.size()));
    }
    return 0;
}

// text is wide or UTF-8; it is converted for the kind of stream it goes to.
template <typename Text>
void Print(DWORD stream, DWORD& failure, Text text)
{
    if (failure != 0 || text.empty())
        return;
    const HANDLE handle = GetStdHandle(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        // Started without that stream: the console host has nobody to
        // tell, the launcher shows the text.
        if constexpr (std::is_same_v<Text, std::wstring_view>)
            PrintWithoutConsole(stream == STD_ERROR_HANDLE, text);
        else
            PrintWithoutConsole(stream == STD_ERROR_HANDLE, Utf8ToWide(text));
        return;
    }
    DWORD mode = 0;
    if constexpr (std::is_same_v<Text, std::wstring_view>)
        failure = GetConsoleMode(handle, &mode) ? WriteToConsole(handle, text) : WriteToFile(handle, WideToUtf8(text));
    else
        failure = GetConsoleMode(handle, &mode) ? WriteToConsole(handle, Utf8ToWide(text)) : WriteToFile(handle, text);
}

} // namespace

void PrintOut(std::wstring_view text)
{
    Print(STD_OUTPUT_HANDLE, g_outputFailure, text);
}

void PrintOutUtf8(std::string_view text)
{
    Print(STD_OUTPUT_HANDLE, g_outputFailure, text);
}

void PrintError(std::wstring_view text)
{
    Print(STD_ERROR_HANDLE, g_errorFailure, text);
}

bool OutputClosed()
{
    return IsClosedPipe(g_outputFailure);
}

int FinalExitCode(int commandResult)
{
    if (g_outputFailure == 0 && g_errorFailure == 0)
        return commandResult;
    if (g_outputFailure != 0 && !OutputClosed())
        PrintError(L"tervolin: output lost: " + DescribeResult(HResultFromWin32(g_outputFailure)) + L"\n");
    return commandResult == c_exitSuccess ? c_exitFailure : commandResult;
}
