#include "map/NumberFormat.h"

#include <windows.h>

#include <cmath>
#include <cstdio>

#include "base/Exception.h"

namespace {

constexpr int c_maxFractionDigits = 15;

// One text setting of the user's locale, or the fallback when it is unset.
std::wstring LocaleText(LCTYPE type, const wchar_t* fallback)
{
    wchar_t buffer[16];
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, static_cast<int>(std::size(buffer))) <= 1)
        return fallback;
    return buffer;
}

UINT LocaleNumber(LCTYPE type, UINT fallback)
{
    DWORD value = 0;
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, type | LOCALE_RETURN_NUMBER, reinterpret_cast<wchar_t*>(&value),
                       sizeof value / sizeof(wchar_t)) == 0)
        return fallback;
    return value;
}

std::wstring FormatWithLocale(const std::wstring& plain, unsigned fractionDigits)
{
    const std::wstring decimal = LocaleText(LOCALE_SDECIMAL, L".");
    const std::wstring thousands = LocaleText(LOCALE_STHOUSAND, L",");
    NUMBERFMTW format{};
    format.NumDigits = fractionDigits;
    format.LeadingZero = LocaleNumber(LOCALE_ILZERO, 1);
    format.Grouping = 3;
    format.lpDecimalSep = const_cast<wchar_t*>(decimal.c_str());
    format.lpThousandSep = const_cast<wchar_t*>(thousands.c_str());
    format.NegativeOrder = LocaleNumber(LOCALE_INEGNUMBER, 1);
    // The first call asks for the size: a number read from a map may have
    // hundreds of digits.
    const int size = GetNumberFormatW(LOCALE_USER_DEFAULT, 0, plain.c_str(), &format, nullptr, 0);
    ThrowLastErrorIf(size == 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    const int length = GetNumberFormatW(LOCALE_USER_DEFAULT, 0, plain.c_str(), &format, text.data(), size);
    ThrowLastErrorIf(length == 0);
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

} // namespace

std::wstring PlainDecimalText(double value)
{
    if (!std::isfinite(value))
        ThrowHr(E_INVALIDARG);
    std::wstring text = value < 0 ? L"-" : L"";
    double magnitude = std::fabs(value);
    const double integerPart = std::trunc(magnitude);
    wchar_t buffer[352];
    std::swprintf(buffer, std::size(buffer), L"%.0f", integerPart);
    text += buffer;
    double remainder = magnitude - integerPart;
    if (remainder > 0) {
        text += L'.';
        for (int digit = 0; digit < c_maxFractionDigits && remainder > 0; ++digit) {
            remainder *= 10;
            const double digitValue = std::trunc(remainder);
            text += static_cast<wchar_t>(L'0' + static_cast<int>(digitValue));
            remainder -= digitValue;
        }
    }
    return text;
}

std::wstring FormatGroupedInteger(std::int64_t value)
{
    return FormatWithLocale(std::to_wstring(value), 0);
}

std::wstring FormatGroupedDecimal(double value, unsigned fractionDigits)
{
    if (fractionDigits > 9)
        ThrowHr(E_INVALIDARG);
    return FormatWithLocale(PlainDecimalText(value), fractionDigits);
}
