#include "ui/WindowPlacement.h"

#include <climits>

namespace {

// The left (top) edge that centres an extent of `size` on the reference's
// [first, last) and keeps it inside the bounds [low, high).
LONG CenteredEdge(LONG first, LONG last, LONG size, LONG low, LONG high)
{
    LONG edge = (first + last) / 2 - size / 2;
    if (edge < low)
        edge = low;
    else if (edge + size > high)
        edge = high - size;
    return edge;
}

bool IsUsableReference(HWND window)
{
    return window && IsWindowVisible(window) && !IsIconic(window);
}

} // namespace

void CenterWindow(HWND window, HWND reference)
{
    RECT own{};
    GetWindowRect(window, &own);
    const LONG width = own.right - own.left;
    const LONG height = own.bottom - own.top;

    RECT area{};
    RECT bounds{};
    if (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) {
        HWND parent = GetParent(window);
        GetClientRect(parent, &area);
        bounds = {LONG_MIN / 2, LONG_MIN / 2, LONG_MAX / 2, LONG_MAX / 2};
    } else {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &bounds, 0);
        if (!reference)
            reference = GetWindow(window, GW_OWNER);
        if (IsUsableReference(reference))
            GetWindowRect(reference, &area);
        else
            area = bounds;
    }
    const LONG left = CenteredEdge(area.left, area.right, width, bounds.left, bounds.right);
    const LONG top = CenteredEdge(area.top, area.bottom, height, bounds.top, bounds.bottom);
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CascadeFromParent(HWND window)
{
    HWND parent = GetParent(window);
    while (parent && IsWindow(parent) && (GetWindowLongW(parent, GWL_STYLE) & WS_CAPTION) != WS_CAPTION)
        parent = GetParent(parent);
    if (!parent || !IsWindow(parent))
        return;
    RECT own{};
    RECT under{};
    GetWindowRect(window, &own);
    GetWindowRect(parent, &under);
    if (own.left != under.left || own.top != under.top)
        return;
    const int shift = GetSystemMetrics(SM_CYBORDER) + GetSystemMetrics(SM_CYCAPTION);
    MoveWindow(window, own.left + shift, own.top + shift, own.right - own.left, own.bottom - own.top, TRUE);
}
