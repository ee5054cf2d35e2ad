// Message boxes of the wizards: centred over their owner, error boxes with
// the module's own words, and confirmations the user can silence for good.
//
// Text and caption arguments are a string or a string resource id (a
// pointer value of at most 0xFFFF, MAKEINTRESOURCEW), loaded from the
// resource instance. Boxes are recognised through a WH_CALLWNDPROC hook of
// the calling thread only; each thread has its own hook state, so wizards on
// several threads may show boxes at the same time.
#pragma once

#include <windows.h>

#include <string>

#include "base/Exception.h"

// Captions of the string table.
constexpr UINT c_captionInformation = 57088;
constexpr UINT c_captionError = 57090;
constexpr UINT c_captionConfirmation = 57091;

// MessageBoxW centred over its owner; returns its result (IDOK, IDYES...).
int ShowMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Words for a code: the module's own words for its 0xA765nnnn codes, the
// system's message otherwise, "check failed (0xA765FFFF)" or "error
// 0x8000FFFF" in the user's language when neither has any.
std::wstring GetErrorText(HRESULT hr);

// An error box (caption "Error", error icon) with GetErrorText of the code.
void ShowErrorMessage(HWND owner, HRESULT hr);

// An error box that says all the failure knows, with the same words as the
// command-line host: the file when known, the position in it counted in
// positionNoun ("line 12", "placemark 4"), and the failure's own detail or
// the words of its code.
void ShowErrorMessage(HWND owner, const CAtlException& failure, const wchar_t* positionNoun = L"line");

// A message with the added check box "Don't show this message again" below
// an etched line. When the box closes with the check box ticked, whatever
// button closed it, the value `name` under the Confirmations key
// (ui/Confirmations.h) is set to 2; while it is 2 the message is not shown
// and the call returns 0. Otherwise returns the MessageBoxW result.
int ShowConfirmationMessageBox(HWND owner, const wchar_t* name, LPCWSTR text, LPCWSTR caption, UINT type);
