// wizard_screenshots.exe [SCENE...]: runs the registered scenes (all of them
// without arguments) and exits with 1 when one fails.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "programs/Screenshots.h"
#include "support/TestSupport.h"

namespace {

struct NamedScene
{
    const wchar_t* name;
    Scene scene;
};

std::vector<NamedScene>& Scenes()
{
    static std::vector<NamedScene> scenes;
    return scenes;
}

// Time for the wizard's thread to paint before the picture is taken.
constexpr DWORD c_paintDelay = 400;

} // namespace

SceneRegistration::SceneRegistration(const wchar_t* name, Scene scene)
{
    Scenes().push_back({name, scene});
}

std::wstring PictureSample(const std::wstring& name)
{
    const std::wstring folder = L"C:\\Tervolin Samples";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"\\" + name;
    CopyFileW((EnvironmentValue(L"TERVOLIN_SOURCE") + L"\\samples\\" + name).c_str(), copy.c_str(), FALSE);
    return copy;
}

void Shot(const std::wstring& name, HWND window, HWND over)
{
    Sleep(c_paintDelay);
    RECT bounds = {};
    GetWindowRect(window, &bounds);
    if (over) {
        RECT other = {};
        GetWindowRect(over, &other);
        UnionRect(&bounds, &bounds, &other);
    }
    std::printf("SHOT %ls %ld %ld %ld %ld\n", name.c_str(), bounds.left, bounds.top, bounds.right - bounds.left,
                bounds.bottom - bounds.top);
    std::fflush(stdout);
    std::string done;
    std::getline(std::cin, done);
}

int wmain(int argc, wchar_t** argv)
{
    Watchdog watchdog(120000);
    // The main thread sets up its windowing (through COM) before any wizard
    // thread loads the DLL: the first window call of a thread and a thread
    // that loads the common controls under the loader lock deadlock in Wine.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int failures = 0;
    for (const auto& [name, scene] : Scenes()) {
        bool chosen = argc < 2;
        for (int i = 1; i < argc; ++i)
            chosen = chosen || std::wstring(argv[i]) == name;
        if (!chosen)
            continue;
        bool shown = false;
        try {
            shown = scene();
        } catch (const CAtlException& failure) {
            std::fprintf(stderr, "scene %ls: failure 0x%08lX\n", name, static_cast<unsigned long>(failure.m_hr));
        }
        if (!shown) {
            std::fprintf(stderr, "scene %ls: a window did not appear\n", name);
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
