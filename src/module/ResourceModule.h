// The resource instance of the module: the module itself, or a satellite
// library with the module's resources translated into the user's language.
//
// At load the module chooses a language (registry key
// SOFTWARE\Norvask\Tervolin\Locale under HKEY_CURRENT_USER, then
// HKEY_LOCAL_MACHINE: the REG_DWORD named after the module's base file name,
// else "Default"; without either, the user's default locale), looks for
// "<base name>.lang-<language id>.dll" beside the module, then in the
// "Satellite Path" folder when that is absolute (never in the process's
// current folder), maps it as an image resource (none of its code runs) and
// takes it when its product version equals the module's. A language value
// that is no valid locale counts as missing. Every dialog, string, bitmap and
// icon of the module is then loaded from ResourceInstance(); the module's own
// resources are not consulted for items the satellite lacks.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "base/ResourceString.h"

// The choice for a module and the resource instance in use so far: the
// satellite library when one fits (held until FreeResourceModule), else
// `current`. Never fails; any problem keeps `current`.
HINSTANCE SelectResourceModule(HINSTANCE module, HINSTANCE current) noexcept;

// Module start-up: chooses the resource instance for the module and
// publishes it.
void InitializeResourceInstance(HINSTANCE module) noexcept;

// Module shut-down: frees the satellite library, if one was chosen, and
// forgets the resource instance.
void FreeResourceModule() noexcept;

// The language chosen in the registry for a module base name, when any; values
// that are no valid locale (0, 0xFFFFFFFF, LOCALE_USER_DEFAULT) are passed
// over.
std::optional<LCID> ConfiguredLocale(std::wstring_view moduleBaseName);

// "Tervolin.lang-1031.dll" for the base name "Tervolin" and any LCID whose
// language id is 1031.
std::wstring SatelliteFileName(std::wstring_view moduleBaseName, LCID locale);
