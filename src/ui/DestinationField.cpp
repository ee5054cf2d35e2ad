#include "ui/DestinationField.h"

#include <windowsx.h>

#include "base/FilePath.h"
#include "base/OutputFiles.h"
#include "base/ResourceString.h"
#include "ui/MessageBox.h"
#include "ui/WindowHelpers.h"
#include "ui/WizardResources.h"

namespace {

bool IsExistingFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool UserAllowsReplacing(HWND page, const std::wstring& path)
{
    const std::wstring question =
        TryFormatResourceString(IDS_REPLACE_EXISTING, {path}).value_or(path);
    return ShowMessageBox(page, question.c_str(), MAKEINTRESOURCEW(c_captionConfirmation),
                          MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

} // namespace

void SelectEditText(HWND page, HWND edit)
{
    SendMessageW(GetParent(page), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
    Edit_SetSel(edit, 0, -1);
}

std::optional<std::wstring> CDestinationField::Take(HWND page, int editId, const std::wstring& source,
                                                    const wchar_t* extension)
{
    const HWND edit = GetDlgItem(page, editId);
    const std::wstring typed = WindowText(edit);
    const std::wstring path = WithDefaultExtension(typed, extension);
    if (path != typed)
        SetWindowTextW(edit, path.c_str());
    try {
        CheckOutputPath(source, path);
    } catch (const CAtlException& failure) {
        ShowErrorMessage(page, failure);
        SelectEditText(page, edit);
        return std::nullopt;
    }
    if (IsExistingFile(path) && path != m_confirmed && !UserAllowsReplacing(page, path)) {
        SelectEditText(page, edit);
        return std::nullopt;
    }
    return path;
}
