// Hyperlink labels: the anchor markup, and the control laid out in a dialog.
#include <gtest/gtest.h>

#include "ui/HyperlinkMarkup.h"

namespace {

// One expected segment: "text" plain, "[text|href|title|id]" a link.
std::wstring Describe(const std::vector<CHyperlinkSegment>& segments)
{
    std::wstring description;
    for (const auto& segment : segments) {
        if (segment.isLink)
            description += L"[" + segment.text + L"|" + segment.href + L"|" + segment.title + L"|" + segment.id + L"]";
        else
            description += L"(" + segment.text + L")";
    }
    return description;
}

} // namespace

TEST(HyperlinkMarkup, Segments)
{
    const struct
    {
        const wchar_t* markup;
        const wchar_t* expected; // nullptr: rejected
    } rows[] = {
        {L"", L""},
        {L"No anchor at all", L"(No anchor at all)"},
        {L"Web: <A HREF=\"https://norvask.example\">norvask.example</A>",
         L"(Web: )[norvask.example|https://norvask.example||]"},
        {L"<a href=\"x.kml\" title=\"A file\" id=\"one\">lower</a> case", L"[lower|x.kml|A file|one]( case)"},
        {L"<A HREF=\"a\">one</A> and <A TITLE=\"T\" HREF=\"b\">two</A>.", L"[one|a||]( and )[two|b|T|](.)"},
        {L"<A ID=\"only\">no target</A>", L"[no target|||only]"},
        {L"empty <A HREF=\"gone\"></A>anchor", L"(empty )(anchor)"},
        {L"open <A HREF=\"x\">never closed", nullptr},
        {L"text < not a tag", L"(text < not a tag)"},
    };
    for (const auto& row : rows) {
        const auto segments = ParseHyperlinkMarkup(row.markup);
        if (!row.expected) {
            EXPECT_FALSE(segments.has_value()) << row.markup;
            continue;
        }
        ASSERT_TRUE(segments.has_value()) << row.markup;
        EXPECT_EQ(row.expected, Describe(*segments)) << row.markup;
    }
}
