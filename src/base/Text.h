// Text helpers: conversion between wide text and the system ANSI code page
// at the file boundary, trimming and comparison.
#pragma once

#include <string>
#include <string_view>

// ANSI (system code page) bytes to UTF-16.
std::wstring AnsiToWide(std::string_view text);

// The same into a caller's buffer, whose capacity is reused (for loops over
// many lines).
void AnsiToWide(std::string_view text, std::wstring& result);

// UTF-16 to ANSI bytes; characters the code page lacks become its default
// replacement character, as the platform converts them.
std::string WideToAnsi(std::wstring_view text);

// UTF-8 bytes to UTF-16, and back.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// White space as the C library's iswspace sees it.
bool IsWhiteSpace(wchar_t c) noexcept;

std::wstring_view TrimWhiteSpace(std::wstring_view text) noexcept;
// The same for ASCII bytes, whose values are the characters themselves.
std::string_view TrimWhiteSpace(std::string_view asciiText) noexcept;

// Ordinal comparison ignoring letter case.
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) noexcept;

// Upper case as the file system folds names (invariant, per character).
std::wstring ToUpperInvariant(std::wstring_view text);

// Text taken from an input file, made fit for a one-line message: control
// characters become \r, \n, \t or \xHH, and a text longer than maxLength
// characters is cut there and marked with "...".
std::wstring EscapeControlCharacters(std::wstring_view text, size_t maxLength = 80);
