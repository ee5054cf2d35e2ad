#include "ServerModule.h"

#include <string>

#include "base/FilePath.h"
#include "base/ModuleFile.h"

// Tervolin.dll beside the executable, whatever the length of its folder.
ServerModule::ServerModule()
{
    const std::wstring module = JoinPath(FolderOf(ModuleFilePath(nullptr)), L"Tervolin.dll");
    m_module.Reset(LoadLibraryW(module.c_str()));
    if (!m_module)
        ThrowLastErrorFor(module);
}
