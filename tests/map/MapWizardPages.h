// The map wizard as its drivers see it: the pages in their order and the
// values under which it stores the user's "do not show again" choices.
#pragma once

enum MapWizardPage
{
    PAGE_INTRODUCTION,
    PAGE_SOURCE,
    PAGE_CONTENTS,
    PAGE_ACTION,
    PAGE_LAYERS,
    PAGE_DESTINATION,
    PAGE_COMPLETION,
};

constexpr wchar_t c_singleFileSaved[] = L"CMapWizard::CSourceContentsPage::SingleFileSaved";
const wchar_t* const c_storedChoices[] = {L"CMapWizard::CIntroductionPage", c_singleFileSaved,
                                          L"CMapWizard::CSourceContentsPage::MultipleFilesSaved"};
