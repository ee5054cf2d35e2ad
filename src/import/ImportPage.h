// The content page of the import wizards: a source and a destination, each
// an edit with a Browse button, and Next that runs the wizard's conversion.
//
// The KML wizard's CLocationsPage and the track and waypoint wizards'
// CPagePaths differ only in data (ImportPageLayout): template and control
// ids, the input types of CPagePaths' combo box (each with its source
// extension, file dialog filter and conversion), the destination's
// extension and filter, the rule that enables Next, the name of the
// success message the user may silence and the words of the completion
// page. A source path given at the start (or chosen with Browse) that ends
// in a type's extension selects that type.
//
// When the page opens, the focus goes to the first empty path edit (the
// destination when the source came filled in), else to Next. While Next is
// disabled a hint under the fields says what is missing, and Enter does
// nothing. Next takes the destination through CDestinationField (the
// wizard's extension when none is typed, the checks, the question before
// replacing an existing file), converts and hands the completion page the
// path and the count of points written.
#pragma once

#include <windows.h>
#include <shldisp.h>

#include <optional>
#include <span>
#include <string>

#include "base/Handle.h"
#include "ui/CommonPages.h"
#include "ui/DestinationField.h"
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

// The user's choices besides the paths.
struct ImportOptions
{
    bool pointsOnly = false; // KML: skip the placemarks without a Point
};

// What a conversion wrote.
struct ImportCounts
{
    size_t written = 0; // waypoints or track points
    size_t skipped = 0; // placemarks without a Point
};

// One kind of source the page converts.
struct ImportInputType
{
    UINT itemId;                  // the combo box item; 0 for a page without the combo box
    const wchar_t* extension;     // "plt": the source's default extension
    UINT filterId;                // the source's file dialog filter
    ImportCounts (*convert)(const std::wstring& source, const std::wstring& destination,
                            const ImportOptions& options);
    const wchar_t* positionNoun;  // what the conversion's failures count: "line", "placemark"
};

struct ImportPageLayout
{
    UINT templateId;
    UINT headerId;
    int typeComboId; // 0: no input type to choose
    std::span<const ImportInputType> inputTypes;
    int linkLabelId; // 0: no hyperlink label
    int sourceEditId;
    int sourceBrowseId;
    ImportPathField destination;
    int pointsOnlyId; // 0: no "Skip lines, areas and overlays"
    bool (*canConvert)(const std::wstring& source, const std::wstring& destination);
    const wchar_t* completeMessage; // value name of the silenceable success message
    UINT resultId;                  // the completion page's words: %1 the destination, %2 the count
    const wchar_t* wizardName;      // names the folder the file dialogs remember
};

class CImportPage : public CWizardPage
{
public:
    CImportPage(CWizardSheet& sheet, const ImportPageLayout& layout, CCompletionPage& completion);

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
    HWND InitialFocus() const override;

private:
    std::wstring EditText(int id) const;
    bool IsComplete() const;
    void UpdateButtons() const;
    // The file dialog for an edit; the chosen path, or nothing when cancelled.
    std::optional<std::wstring> Browse(int editId, const wchar_t* defaultExtension, UINT filterId, bool open);
    // Selects the input type whose extension the source path has, if any.
    void SelectTypeOf(const std::wstring& source);
    const ImportInputType& SelectedType() const;
    ImportOptions ChosenOptions() const;
    // Runs the conversion; nothing when it failed and the user has been told.
    std::optional<ImportCounts> Convert();
    void ShowSuccess() const;

    const ImportPageLayout& m_layout;
    CCompletionPage& m_completion;
    bool m_initializing = false;
    std::wstring m_source;
    std::wstring m_destination;
    ComPtr<IAutoComplete> m_sourceCompletion;
    ComPtr<IAutoComplete> m_destinationCompletion;
    CHyperlinkLabel m_link;
    CDestinationField m_destinationField;
};
