// The scenes of scripts/screenshots: each walks a wizard of Tervolin.dll to
// the windows worth showing and asks for a picture of each.
//
// The program writes "SHOT <name> <left> <top> <width> <height>" on its
// standard output for every picture and waits for a line on its standard
// input, written once the caller has captured that part of the screen.
// A new wizard adds its scenes with one registration in a file of its own:
//
//   static const SceneRegistration c_mapScene(L"map", ShowMapWizard);
#pragma once

#include <windows.h>

#include <string>

#include "support/WizardDriver.h"

// The folder a scene writes to: one name, so that the paths the pictures
// show stay the same from run to run.
inline const wchar_t c_sceneFolder[] = L"tervolin-pictures";

// Asks for a picture of the window, or of the smallest rectangle holding
// both windows (a message box over its sheet), once it has had time to
// paint.
void Shot(const std::wstring& name, HWND window, HWND over = nullptr);

// The project's sample file of that name, copied to a folder whose path
// reads as a user's own ("C:\Tervolin Samples\NAME") and not as the
// checkout's; its path.
std::wstring PictureSample(const std::wstring& name);

// A scene: drives one run from its start to its end; raises or returns
// false when a window does not appear.
using Scene = bool (*)();

struct SceneRegistration
{
    SceneRegistration(const wchar_t* name, Scene scene);
};
