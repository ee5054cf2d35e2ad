// The JSON lines of the host's nmea command: one object per event of the
// automation objects, {"event":"Name","argument":value,...}, with numbers
// as printf's "%.10g" writes them and dates as ISO 8601 text.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <initializer_list>
#include <string>
#include <string_view>

// How one event is printed: its name and the names of its arguments; a
// name starting with '#' prints an integer in hexadecimal.
struct EventFormat
{
    DISPID id;
    std::string_view name;
    std::initializer_list<std::string_view> arguments;
};

// Appends the event as one JSON line: its arguments (in parameter order,
// DISPPARAMS holds them reversed) under the format's names; arguments
// beyond the names are left out.
void AppendJsonEvent(std::string& out, const EventFormat& format, const DISPPARAMS& parameters);

// The JSON text of a value: numbers, booleans, strings (UTF-8, control
// characters escaped), dates, arrays of VARIANTs; null for anything else
// and for numbers JSON has no text for. hexadecimal prints a VT_I4 as a
// quoted "0x0000ABCD".
void AppendJsonValue(std::string& out, const VARIANT& value, bool hexadecimal);
