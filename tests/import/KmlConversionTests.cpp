#include "support/TestSupport.h"

#include "base/Text.h"
#include "import/KmlConversion.h"
#include "import/KmlDocument.h"

namespace {

std::string Sentence(const std::string& body)
{
    unsigned char sum = 0;
    for (size_t i = 1; i < body.size(); ++i)
        sum ^= static_cast<unsigned char>(body[i]);
    char hex[4];
    snprintf(hex, sizeof hex, "%02X", sum);
    return body + "*" + hex + "\r\n";
}

const std::string c_terminator = "$PMGNCMD,END\r\n";

std::string Kml(const std::string& body, const std::string& ns = "http://www.opengis.net/kml/2.2")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"" + ns + "\">" + body + "</kml>\n";
}

std::string Placemark(const std::string& name, const std::string& coordinates)
{
    return "<Placemark><name>" + name + "</name><Point><coordinates>" + coordinates +
           "</coordinates></Point></Placemark>";
}

class KmlConversion : public testing::Test
{
protected:
    std::wstring Source(const std::string& contents, const std::wstring& name = L"source.kml")
    {
        const std::wstring path = m_folder.File(name);
        WriteFileBytes(path, contents);
        return path;
    }
    std::wstring Destination() const { return m_folder.File(L"out.upt"); }

    HRESULT Import(const std::string& contents)
    {
        return RaisedResult([&] { ImportKmlPlacemarks(Source(contents), Destination()); });
    }

    TempFolder m_folder;
};

} // namespace

TEST_F(KmlConversion, Smoke)
{
    ASSERT_EQ(S_OK, Import(Kml("<Document>" + Placemark("A\nB", "8.5,47.25,0") + "</Document>")));
    EXPECT_EQ(Sentence("$PMGNWPL,4715.00000,N,00830.00000,E,0.00000,M,A B,,a") + c_terminator,
              ReadFileBytes(Destination()));
}
