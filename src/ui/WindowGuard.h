// The one exception guard of every window procedure of the wizards.
#pragma once

#include <windows.h>

#include <optional>

#include "base/Exception.h"
#include "ui/MessageBox.h"

// Runs a message handler. A failure that escapes it is shown in an error
// box over `window` and the message counts as not handled (nothing is
// returned), so the standard procedure processes it; no exception ever
// leaves the window procedure.
template <typename Handler>
std::optional<LRESULT> GuardWindowMessage(HWND window, Handler&& handler) noexcept
{
    try {
        return handler();
    } catch (const CAtlException& failure) {
        try {
            ShowErrorMessage(window, failure);
        } catch (...) {
        }
    } catch (...) {
        try {
            ShowErrorMessage(window, ResultFromCaughtException());
        } catch (...) {
        }
    }
    return std::nullopt;
}
