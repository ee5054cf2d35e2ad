// The content page of the import wizards: a source and a destination, each
// an edit with a Browse button, and Next that runs the wizard's conversion.
//
// The KML wizard's CLocationsPage and the OziExplorer wizards' CPagePaths
// differ only in data (ImportPageLayout): template and control ids, the
// input type combo box of CPagePaths, file dialog extensions and filters,
// the rule that enables Next, the conversion and the name of the success
// message the user may silence.
#pragma once

#include <windows.h>
#include <shldisp.h>

#include <string>

#include "base/Handle.h"
#include "ui/HyperlinkLabel.h"
#include "ui/WizardPage.h"

// One edit with its Browse button.
struct ImportPathField
{
    int editId;
    int browseId;
    const wchar_t* defaultExtension; // "plt"
    UINT filterId;                   // "OziExplorer Track Point Files (*.plt)|*.plt|..."
};

struct ImportPageLayout
{
    UINT templateId;
    UINT headerId;
    int typeComboId; // 0: no input type to choose
    UINT typeItemId;
    int linkLabelId; // 0: no hyperlink label
    ImportPathField source;
    ImportPathField destination;
    bool (*canConvert)(const std::wstring& source, const std::wstring& destination);
    void (*convert)(const std::wstring& source, const std::wstring& destination);
    const wchar_t* positionNoun;    // what the conversion's failures count: "line", "placemark"
    const wchar_t* completeMessage; // value name of the silenceable success message
};

class CImportPage : public CWizardPage
{
public:
    CImportPage(CWizardSheet& sheet, const ImportPageLayout& layout);

    // The source shown when the page first opens (the path or location the
    // wizard was started with).
    void SetInitialSource(std::wstring source) { m_source = std::move(source); }

    const std::wstring& Source() const noexcept { return m_source; }
    const std::wstring& Destination() const noexcept { return m_destination; }

protected:
    BOOL OnInitDialog() override;
    LRESULT OnSetActive() override;
    LRESULT OnWizardNext() override;
    void OnCommand(WORD id, WORD code, HWND control) override;
    void OnShown() override;

private:
    std::wstring EditText(int id) const;
    void UpdateButtons() const;
    void Browse(const ImportPathField& field, bool open);
    // Runs the conversion; false when it failed and the user has been told.
    bool Convert();
    void ShowSuccess() const;

    const ImportPageLayout& m_layout;
    bool m_initializing = false;
    int m_inputType = 0;
    std::wstring m_source;
    std::wstring m_destination;
    ComPtr<IAutoComplete> m_sourceCompletion;
    ComPtr<IAutoComplete> m_destinationCompletion;
    CHyperlinkLabel m_link;
};
