// The user's stored answers under the key
// HKEY_CURRENT_USER\SOFTWARE\Norvask\Tervolin\Confirmations: one
// REG_DWORD per introduction page or message, named after the page or
// message ("CImportTrackWizard::CIntroductionPage").
// 1 skips an introduction page, 2 silences a message for good.
#pragma once

#include <windows.h>

#include <optional>

constexpr DWORD c_skipIntroduction = 1;
constexpr DWORD c_silenceMessage = 2;

// The stored value; nothing when the key or the value is missing, cannot be
// read or is not a REG_DWORD.
std::optional<DWORD> ReadConfirmation(const wchar_t* name) noexcept;

// Stores the value, creating the key when needed. Failures are ignored: the
// user is merely asked again next time.
void WriteConfirmation(const wchar_t* name, DWORD value) noexcept;
