// Registry scripts: the text that describes the keys and values a COM
// server registers, and the registration and unregistration they drive.
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {GUID} = s 'Friendly name'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'both'
//               }
//           }
//       }
//   }
//
// Tokens are separated by white space; a quoted token 'like this' may hold
// spaces and '' for a quote. A script is a list of roots (HKCR, HKCU, HKLM,
// HKU or their long names), each followed by a block of keys. A key is an
// optional NoRemove or ForceRemove, its name, an optional default value
// "= s 'text'" and an optional block of subkeys and named values
// "val Name = s 'text'". Only string values (s) exist. Placeholders
// %NAME% are replaced (names ignoring case) before the script is read;
// %% is a percent sign and an unknown placeholder stays as written.
// Malformed scripts raise E_FAIL.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RegistryNamedValue
{
    std::wstring name;
    std::wstring data;
};

struct RegistryKeyEntry
{
    std::wstring name;
    bool noRemove = false;
    bool forceRemove = false;
    std::optional<std::wstring> defaultValue;
    std::vector<RegistryNamedValue> values;
    std::vector<RegistryKeyEntry> subkeys;
};

struct RegistryRoot
{
    HKEY key;
    std::vector<RegistryKeyEntry> keys;
};

using RegistryReplacements = std::map<std::wstring, std::wstring>;

std::wstring ReplacePlaceholders(std::wstring_view text, const RegistryReplacements& replacements);

std::vector<RegistryRoot> ParseRegistryScript(std::wstring_view text);

// Creates (or opens) every key, rebuilding ForceRemove keys, and writes the
// values. Stops at the first failure with its HRESULT (0x8007xxxx).
void RegisterScript(const std::vector<RegistryRoot>& script);

// Deletes every key of the script that is not NoRemove, with its subkeys,
// after walking its own subkeys. Keys that do not exist are skipped.
void UnregisterScript(const std::vector<RegistryRoot>& script);
