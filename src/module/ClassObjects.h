// The class object table of the module's COM classes: for each class its
// CLSID, creation function, class initialisation, registration data and
// cached class factory. DllGetClassObject and the registration code walk
// it in order.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <span>

struct ClassObjectEntry
{
    const CLSID& classId;
    HRESULT (*createInstance)(IUnknown* outer, REFIID iid, void** result) noexcept;
    void (*classInit)(bool starting) noexcept; // may be null
    const wchar_t* friendlyName;               // %FriendlyName% of the class script
    WORD registryScript;                       // "REGISTRY" resource of the class script
    IUnknown* cachedFactory;                   // created on first request, under the module lock
};

std::span<ClassObjectEntry> ClassObjects() noexcept;

// Module start-up and shut-down of the COM classes: class initialisation
// of each entry, and at shut-down the release of the cached factories.
void StartClassObjects() noexcept;
void StopClassObjects() noexcept;
