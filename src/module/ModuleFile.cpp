#include "module/Module.h"

#include "diagnostics/ModuleFile.h"

std::wstring ModuleFileName()
{
    return ModuleFilePath(ModuleInstance());
}
