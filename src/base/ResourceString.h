// Strings of the resource instance: the module's own string table, or the
// one of a satellite library that translates it.
//
// Tervolin.dll publishes its resource instance at load (module/ResourceModule.h
// chooses it); a program that publishes none, such as the command-line host,
// reads the string table of its own executable, which carries the same
// failure words.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Makes `instance` the source of every later resource load; null returns to
// the executable's own resources.
void PublishResourceInstance(HINSTANCE instance) noexcept;

// Where every resource of the module is loaded from.
HINSTANCE ResourceInstance() noexcept;

// A string of the resource instance's string table; raises the failure when
// it has no such string.
std::wstring LoadResourceString(UINT id);

// The same string, or nothing when the string table lacks it.
std::optional<std::wstring> TryLoadResourceString(UINT id);

// The string with %1, %2, ... replaced by the texts as FormatMessage inserts
// them, or nothing when the string table lacks the string.
std::optional<std::wstring> TryFormatResourceString(UINT id, std::initializer_list<std::wstring_view> inserts);

// The same text; raises the failure when the string table lacks the string.
std::wstring FormatResourceString(UINT id, std::initializer_list<std::wstring_view> inserts);

// The text of a string argument: a pointer value of at most 0xFFFF is a
// string resource id, a null pointer an empty text.
std::wstring TextOrResourceString(LPCWSTR text);
