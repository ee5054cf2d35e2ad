// Which texts name a serial port: the rule shared by the connection's Port
// and the command-line host, which reads any other source as a file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The device path prefix of a port: "\\.\COM7".
inline constexpr std::wstring_view c_portDevicePrefix = L"\\\\.\\";

// The port name ("COM7", letter case as written) of a text that names a
// serial port: "COMn" or "\\.\COMn" in any letter case, n from 1 to 255
// without leading zeros. Any other text ("COM1:", "COM0", a file path, a
// device path of another kind) names no port: no value.
std::optional<std::wstring> SerialPortName(std::wstring_view text);
