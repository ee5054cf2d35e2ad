// Placing windows over the windows they belong to.
#pragma once

#include <windows.h>

// Centres a window. A child window is centred in its parent's client area.
// A top-level window is centred over `reference`, or when that is null over
// its owner if the owner is visible and not minimised, else over the work
// area; it is then moved back inside the work area where it would stick out.
// Moves only (no size, z-order or activation change).
void CenterWindow(HWND window, HWND reference = nullptr);

// When the nearest window with a caption above `window` (its parent, or for
// a top-level window its owner, skipping captionless ones) has the same
// top-left corner, moves `window` down and right by the height of a caption
// and a border, so that the caption underneath stays visible.
void CascadeFromParent(HWND window);
