// The commands of the command-line host. Each takes the arguments after
// its own name and returns the process exit code: 0 success, 1 failure of
// the work, 2 wrong usage.
#pragma once

#include <string>
#include <vector>

using Arguments = std::vector<std::wstring>;

constexpr int c_exitSuccess = 0;
constexpr int c_exitFailure = 1;
constexpr int c_exitUsage = 2;

int RunConvertCommand(const Arguments& arguments);
int RunExportCommand(const Arguments& arguments);
int RunLanguageCommand(const Arguments& arguments);
int RunMapCommand(const Arguments& arguments);
int RunNmeaCommand(const Arguments& arguments);
int RunRegisterCommand(const Arguments& arguments);
int RunUnregisterCommand(const Arguments& arguments);
int RunWizardCommand(const Arguments& arguments);
