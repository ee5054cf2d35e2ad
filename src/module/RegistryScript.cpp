#include "module/RegistryScript.h"

#include <algorithm>

#include "base/Handle.h"
#include "base/Text.h"

namespace {

struct RootName
{
    const wchar_t* name;
    HKEY key;
};

const RootName c_roots[] = {
    {L"HKCR", HKEY_CLASSES_ROOT}, {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKCU", HKEY_CURRENT_USER}, {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKU", HKEY_USERS},          {L"HKEY_USERS", HKEY_USERS},
};

struct Token
{
    std::wstring text;
    bool quoted = false;

    bool Is(const wchar_t* word) const { return !quoted && EqualsIgnoreCase(text, word); }
};

class ScriptReader
{
public:
    explicit ScriptReader(std::wstring_view text) : m_text(text) {}

    std::vector<RegistryRoot> Script()
    {
        std::vector<RegistryRoot> roots;
        while (std::optional<Token> token = Next())
            roots.push_back({RootKey(*token), Block()});
        return roots;
    }

private:
    static HKEY RootKey(const Token& token)
    {
        for (const auto& root : c_roots)
            if (token.Is(root.name))
                return root.key;
        ThrowHr(E_FAIL);
    }

    std::vector<RegistryKeyEntry> Block()
    {
        Expect(L"{");
        std::vector<RegistryKeyEntry> keys;
        for (Token token = Required(); !token.Is(L"}"); token = Required())
            keys.push_back(Key(token));
        return keys;
    }

    RegistryKeyEntry Key(Token token)
    {
        RegistryKeyEntry key;
        key.noRemove = token.Is(L"NoRemove");
        key.forceRemove = token.Is(L"ForceRemove");
        if (key.noRemove || key.forceRemove)
            token = Required();
        if ((!token.quoted && (token.text == L"{" || token.text == L"}" || token.text == L"=")) || token.Is(L"val"))
            ThrowHr(E_FAIL);
        key.name = token.text;
        if (PeekIs(L"=")) {
            Required();
            key.defaultValue = StringValue();
        }
        if (!PeekIs(L"{"))
            return key;
        Required();
        for (Token inner = Required(); !inner.Is(L"}"); inner = Required()) {
            if (inner.Is(L"val")) {
                RegistryNamedValue value{Required().text, {}};
                Expect(L"=");
                value.data = StringValue();
                key.values.push_back(std::move(value));
            } else {
                key.subkeys.push_back(Key(inner));
            }
        }
        return key;
    }

    std::wstring StringValue()
    {
        Expect(L"s");
        const Token value = Required();
        if (!value.quoted)
            ThrowHr(E_FAIL);
        return value.text;
    }

    void Expect(const wchar_t* word)
    {
        if (!Required().Is(word))
            ThrowHr(E_FAIL);
    }

    bool PeekIs(const wchar_t* word)
    {
        const size_t position = m_position;
        const std::optional<Token> token = Next();
        m_position = position;
        return token && token->Is(word);
    }

    Token Required()
    {
        std::optional<Token> token = Next();
        if (!token)
            ThrowHr(E_FAIL);
        return *token;
    }

    std::optional<Token> Next()
    {
        while (m_position < m_text.size() && IsWhiteSpace(m_text[m_position]))
            ++m_position;
        if (m_position == m_text.size())
            return std::nullopt;
        Token token;
        if (m_text[m_position] != L'\'') {
            while (m_position < m_text.size() && !IsWhiteSpace(m_text[m_position]))
                token.text.push_back(m_text[m_position++]);
            return token;
        }
        token.quoted = true;
        for (++m_position;; ++m_position) {
            if (m_position == m_text.size())
                ThrowHr(E_FAIL);
            if (m_text[m_position] == L'\'') {
                if (m_position + 1 < m_text.size() && m_text[m_position + 1] == L'\'') {
                    ++m_position;
                } else {
                    ++m_position;
                    return token;
                }
            }
            token.text.push_back(m_text[m_position]);
        }
    }

    std::wstring_view m_text;
    size_t m_position = 0;
};

void ThrowIfRegistryFailed(LSTATUS status)
{
    if (status != ERROR_SUCCESS)
        ThrowWin32(static_cast<DWORD>(status));
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& data)
{
    ThrowIfRegistryFailed(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
}

void DeleteTreeIfPresent(HKEY parent, const std::wstring& name)
{
    const LSTATUS status = RegDeleteTreeW(parent, name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_PATH_NOT_FOUND)
        ThrowWin32(static_cast<DWORD>(status));
}

void RegisterKey(HKEY parent, const RegistryKeyEntry& entry)
{
    if (entry.forceRemove)
        DeleteTreeIfPresent(parent, entry.name);
    UniqueHKey key;
    ThrowIfRegistryFailed(RegCreateKeyExW(parent, entry.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                          key.Put(), nullptr));
    if (entry.defaultValue)
        SetString(key.Get(), nullptr, *entry.defaultValue);
    for (const auto& value : entry.values)
        SetString(key.Get(), value.name.c_str(), value.data);
    for (const auto& subkey : entry.subkeys)
        RegisterKey(key.Get(), subkey);
}

void UnregisterKey(HKEY parent, const RegistryKeyEntry& entry)
{
    if (!entry.subkeys.empty()) {
        UniqueHKey key;
        const LSTATUS status = RegOpenKeyExW(parent, entry.name.c_str(), 0, KEY_READ | KEY_WRITE, key.Put());
        if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND)
            return;
        ThrowIfRegistryFailed(status);
        for (const auto& subkey : entry.subkeys)
            UnregisterKey(key.Get(), subkey);
    }
    if (!entry.noRemove)
        DeleteTreeIfPresent(parent, entry.name);
}

} // namespace

std::wstring ReplacePlaceholders(std::wstring_view text, const RegistryReplacements& replacements)
{
    std::wstring result;
    result.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        const size_t start = text.find(L'%', position);
        const size_t end = start == std::wstring_view::npos ? start : text.find(L'%', start + 1);
        if (end == std::wstring_view::npos) {
            result.append(text.substr(position));
            break;
        }
        result.append(text.substr(position, start - position));
        const std::wstring_view name = text.substr(start + 1, end - start - 1);
        position = end + 1;
        if (name.empty()) {
            result.push_back(L'%');
            continue;
        }
        const auto replacement = std::find_if(replacements.begin(), replacements.end(),
                                              [&](const auto& entry) { return EqualsIgnoreCase(entry.first, name); });
        if (replacement != replacements.end()) {
            result.append(replacement->second);
        } else {
            // Not a placeholder: keep the percent sign and read on after it.
            result.push_back(L'%');
            position = start + 1;
        }
    }
    return result;
}

std::vector<RegistryRoot> ParseRegistryScript(std::wstring_view text)
{
    return ScriptReader(text).Script();
}

void RegisterScript(const std::vector<RegistryRoot>& script)
{
    for (const auto& root : script)
        for (const auto& key : root.keys)
            RegisterKey(root.key, key);
}

void UnregisterScript(const std::vector<RegistryRoot>& script)
{
    for (const auto& root : script)
        for (const auto& key : root.keys)
            UnregisterKey(root.key, key);
}
