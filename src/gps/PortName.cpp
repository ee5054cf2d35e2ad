#include "gps/PortName.h"

#include "base/Text.h"

namespace {

constexpr std::wstring_view c_portPrefix = L"COM";
constexpr unsigned c_highestPortNumber = 255;

} // namespace

std::optional<std::wstring> SerialPortName(std::wstring_view text)
{
    if (text.substr(0, c_portDevicePrefix.size()) == c_portDevicePrefix)
        text.remove_prefix(c_portDevicePrefix.size());
    if (text.size() <= c_portPrefix.size() || !EqualsIgnoreCase(text.substr(0, c_portPrefix.size()), c_portPrefix))
        return std::nullopt;
    const std::wstring_view digits = text.substr(c_portPrefix.size());
    if (digits.size() > 3 || digits[0] == L'0' || digits.find_first_not_of(L"0123456789") != std::wstring_view::npos)
        return std::nullopt;
    unsigned number = 0;
    for (wchar_t digit : digits)
        number = number * 10 + static_cast<unsigned>(digit - L'0');
    if (number > c_highestPortNumber)
        return std::nullopt;
    return std::wstring(text);
}
