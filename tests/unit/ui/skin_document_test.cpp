#include "UiTestSupport.h"

#include "ui/ResourceManager.h"
#include "ui/SkinDocument.h"
#include "ui/SkinFiles.h"
#include "ui/SkinZipReader.h"

#include <functional>

using vorn::CPaintManagerUI;
using vorn::CResourceManager;
using vorn::SkinDocument;
using vorn::SkinNode;

namespace {

const SkinNode* FindByName(const SkinNode& node, const QString& name) {
    if (node.Attribute(QStringLiteral("name")) == name)
        return &node;
    for (const SkinNode& child : node.children) {
        if (const SkinNode* found = FindByName(child, name))
            return found;
    }
    return nullptr;
}

}  // namespace

TEST(SkinDocument, TheShippedMainDocument) {
    const QByteArray bytes = uitest::ReadFile(uitest::SourceSkinDir() + QStringLiteral("main.xml"));
    ASSERT_FALSE(bytes.isEmpty());
    const SkinDocument doc = SkinDocument::Parse(bytes, QStringLiteral("main.xml"));
    ASSERT_TRUE(doc.Ok()) << doc.ErrorText().toStdString();
    const SkinNode& window = doc.Root();
    EXPECT_TRUE(window.Is("Window"));
    EXPECT_EQ(window.Attribute(QStringLiteral("size")), QStringLiteral("1270,717"));
    EXPECT_EQ(window.Attribute(QStringLiteral("mininfo")), QStringLiteral("1270,717"));
    EXPECT_EQ(window.Attribute(QStringLiteral("sizebox")), QStringLiteral("4,4,4,4"));
    EXPECT_EQ(window.Attribute(QStringLiteral("roundcorner")), QStringLiteral("2,2"));
    EXPECT_EQ(window.Attribute(QStringLiteral("caption")), QStringLiteral("0,0,0,32"));
    EXPECT_EQ(window.Attribute(QStringLiteral("shadowimage")),
              QStringLiteral("default/_A0_shadow.png"));

    int fonts = 0;
    for (const SkinNode& child : window.children)
        fonts += child.Is("Font") ? 1 : 0;
    EXPECT_EQ(fonts, 4);

    // The title bar's structure: top > appbar > (title, group of four buttons); then webpanel.
    const SkinNode* top = FindByName(window, QStringLiteral("top"));
    ASSERT_TRUE(top);
    EXPECT_EQ(top->Attribute(QStringLiteral("bkcolor")).toLower(), QStringLiteral("#ff6c9df7"));
    ASSERT_EQ(top->children.size(), 1u);
    const SkinNode& appbar = top->children.front();
    EXPECT_EQ(appbar.Attribute(QStringLiteral("name")), QStringLiteral("appbar"));
    ASSERT_EQ(appbar.children.size(), 2u);
    EXPECT_TRUE(appbar.children[0].Is("Label"));
    const SkinNode& group = appbar.children[1];
    EXPECT_EQ(group.Attribute(QStringLiteral("width")), QStringLiteral("90"));
    EXPECT_EQ(group.Attribute(QStringLiteral("inset")), QStringLiteral("0,-1,0,0"));
    QStringList names;
    for (const SkinNode& b : group.children) {
        EXPECT_TRUE(b.Is("FadeButton"));
        names << b.Attribute(QStringLiteral("name"));
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("minbtn"), QStringLiteral("maxbtn"),
                                  QStringLiteral("restorebtn"), QStringLiteral("closebtn")}));
    EXPECT_EQ(FindByName(window, QStringLiteral("maxbtn"))->Attribute(QStringLiteral("visible")),
              QStringLiteral("false"));
    const SkinNode* panel = FindByName(window, QStringLiteral("webpanel"));
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->Is("Container"));
}

TEST(SkinDocument, MalformedDocumentsNameTheLine) {
    const QByteArray unclosed =
        "<?xml version=\"1.0\"?>\n"
        "<Window size=\"10,10\">\n"
        "  <VerticalLayout>\n"
        "    <Label text=\"a\">\n"
        "  </VerticalLayout>\n"
        "</Window>\n";
    const SkinDocument doc = SkinDocument::Parse(unclosed, QStringLiteral("broken.xml"));
    EXPECT_FALSE(doc.Ok());
    EXPECT_EQ(doc.ErrorLine(), 5);
    EXPECT_GT(doc.ErrorColumn(), 0);
    EXPECT_FALSE(doc.Error().isEmpty());
    EXPECT_TRUE(doc.ErrorText().startsWith(QStringLiteral("broken.xml:5:")))
        << doc.ErrorText().toStdString();
    EXPECT_TRUE(doc.Root().tag.isEmpty()) << "no half-built tree is handed out";

    const SkinDocument attr = SkinDocument::Parse(
        "<Window>\n<Label text=\"a\" text=\"b\"/>\n</Window>", QStringLiteral("x.xml"));
    EXPECT_FALSE(attr.Ok());
    EXPECT_EQ(attr.ErrorLine(), 2);

    EXPECT_FALSE(SkinDocument::Parse(QByteArray(), QStringLiteral("empty.xml")).Ok());
    EXPECT_FALSE(SkinDocument::Parse("<?xml version=\"1.0\"?>", QStringLiteral("x.xml")).Ok());
    EXPECT_FALSE(SkinDocument::Parse("<Window/><Window/>", QStringLiteral("x.xml")).Ok());
    EXPECT_FALSE(SkinDocument::Parse("\x89PNG\r\n\x1a\n", QStringLiteral("x.xml")).Ok());
}

TEST(SkinDocument, NestingDepthIsBounded) {
    QByteArray deep;
    const int levels = SkinDocument::kMaxDepth + 10;
    for (int i = 0; i < levels; ++i)
        deep += "<Container>";
    for (int i = 0; i < levels; ++i)
        deep += "</Container>";
    const SkinDocument doc = SkinDocument::Parse(deep, QStringLiteral("deep.xml"));
    EXPECT_FALSE(doc.Ok());
    EXPECT_TRUE(doc.Error().contains(QStringLiteral("nested")));

    QByteArray fine;
    for (int i = 0; i < SkinDocument::kMaxDepth; ++i)
        fine += "<Container>";
    for (int i = 0; i < SkinDocument::kMaxDepth; ++i)
        fine += "</Container>";
    EXPECT_TRUE(SkinDocument::Parse(fine, QStringLiteral("fine.xml")).Ok());
}

TEST(SkinDocument, AttributeNamesIgnoreCaseAndKeepOrder) {
    const SkinDocument doc =
        SkinDocument::Parse("<window Size=\"1,2\" CAPTION=\"0,0,0,3\"><label Name=\"t\"/></window>",
                            QStringLiteral("x.xml"));
    ASSERT_TRUE(doc.Ok());
    EXPECT_TRUE(doc.Root().Is("Window"));
    EXPECT_EQ(doc.Root().Attribute(QStringLiteral("size")), QStringLiteral("1,2"));
    EXPECT_EQ(doc.Root().attributes.at(1).first, QStringLiteral("caption"));
    EXPECT_EQ(doc.Root().children.at(0).Attribute(QStringLiteral("name")), QStringLiteral("t"));
    EXPECT_EQ(doc.Root().Attribute(QStringLiteral("missing"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    EXPECT_FALSE(doc.Root().HasAttribute(QStringLiteral("missing")));
}

class ResourceIndex : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        uitest::UseSkinFolder(m_dir.path());
        CResourceManager::GetInstance().Release();
    }
    void TearDown() override { CResourceManager::GetInstance().Release(); }
    QTemporaryDir m_dir;
};

TEST_F(ResourceIndex, TheShippedIndexMapsFourDocuments) {
    uitest::UseSkinFolder(uitest::SourceSkinDir());
    ASSERT_TRUE(CResourceManager::GetInstance().LoadResource(QStringLiteral("res.xml")));
    auto& res = CResourceManager::GetInstance();
    EXPECT_EQ(res.GetXmlPath(QStringLiteral("XML_MAIN")), QStringLiteral("main.xml"));
    EXPECT_EQ(res.GetXmlPath(QStringLiteral("XML_SSOLOGIN")), QStringLiteral("ssologin.xml"));
    EXPECT_EQ(res.GetXmlPath(QStringLiteral("XML_LOGIN")), QStringLiteral("login.xml"));
    EXPECT_EQ(res.GetXmlPath(QStringLiteral("XML_WEB")), QStringLiteral("web.xml"));
    EXPECT_TRUE(res.GetXmlPath(QStringLiteral("XML_OTHER")).isEmpty());
    res.Release();
    EXPECT_TRUE(res.GetXmlPath(QStringLiteral("XML_MAIN")).isEmpty());
}

TEST_F(ResourceIndex, BadIndexesAreRefusedAndKeepThePreviousOne) {
    auto& res = CResourceManager::GetInstance();
    ASSERT_TRUE(uitest::WriteFile(m_dir.filePath(QStringLiteral("res.xml")),
                                  "<Res><Xml id=\"A\" path=\"a.xml\"/><Xml id=\"B\"/>"
                                  "<Xml path=\"c.xml\"/><Other id=\"D\" path=\"d.xml\"/>"
                                  "<Xml id=\"A\" path=\"second.xml\"/></Res>"));
    ASSERT_TRUE(res.LoadResource(QStringLiteral("res.xml")));
    EXPECT_EQ(res.GetXmlPath(QStringLiteral("A")), QStringLiteral("a.xml"));
    EXPECT_TRUE(res.GetXmlPath(QStringLiteral("B")).isEmpty());
    EXPECT_TRUE(res.GetXmlPath(QStringLiteral("D")).isEmpty());

    ASSERT_TRUE(
        uitest::WriteFile(m_dir.filePath(QStringLiteral("broken.xml")), "<Res><Xml id=\"A\""));
    ASSERT_TRUE(uitest::WriteFile(m_dir.filePath(QStringLiteral("wrongroot.xml")),
                                  "<Window><Xml id=\"A\" path=\"z.xml\"/></Window>"));
    uitest::WarningCapture warnings;
    EXPECT_FALSE(res.LoadResource(QStringLiteral("broken.xml")));
    EXPECT_FALSE(res.LoadResource(QStringLiteral("wrongroot.xml")));
    EXPECT_FALSE(res.LoadResource(QStringLiteral("missing.xml")));
    EXPECT_EQ(res.GetXmlPath(QStringLiteral("A")), QStringLiteral("a.xml"));
    const QStringList messages = warnings.Messages();
    ASSERT_EQ(messages.size(), 3);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("broken.xml:1:"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[1].contains(QStringLiteral("<Window>")));
    EXPECT_TRUE(messages[2].contains(QStringLiteral("missing.xml")));
}

TEST(SkinArchive, TheEmbeddedArchiveHoldsTheSkin) {
    const QByteArray zip = uitest::EmbeddedSkinZip();
    ASSERT_FALSE(zip.isEmpty()) << "the skin archive resource is linked into the program";
    for (const char* name : {"res.xml", "main.xml", "default/_A0_min.png", "default/_A0_max.png",
                             "default/_A0_huanyuan.png", "default/_A0_close.png",
                             "default/_A0_button.png", "default/_A0_nav_btn_close.png"}) {
        const auto bytes = vorn::SkinZipReader::ReadEntry(zip, QString::fromLatin1(name));
        ASSERT_TRUE(bytes) << name;
        EXPECT_EQ(*bytes, uitest::ReadFile(uitest::SourceSkinDir() + QString::fromLatin1(name)))
            << name;
    }
    // Windows-style names find the same entries.
    EXPECT_TRUE(vorn::SkinZipReader::ReadEntry(zip, QStringLiteral("DEFAULT\\_a0_min.png")));
    EXPECT_FALSE(vorn::SkinZipReader::ReadEntry(zip, QStringLiteral("default/_A0_shadow.png")));
    EXPECT_FALSE(vorn::SkinZipReader::ReadEntry(zip, QStringLiteral("default")));
    EXPECT_FALSE(vorn::SkinZipReader::ReadEntry(zip, QString()));
    EXPECT_FALSE(vorn::SkinZipReader::ReadEntry(QByteArray("PK\x05\x06 not a zip"),
                                                QStringLiteral("main.xml")));
    EXPECT_FALSE(
        vorn::SkinZipReader::ReadEntry(zip.left(zip.size() / 2), QStringLiteral("main.xml")));
}

TEST(SkinArchive, ZipModeReadsTheIndexFromTheArchive) {
    CPaintManagerUI::SetResourceType(CPaintManagerUI::kResourceZip);
    CPaintManagerUI::SetResourcePath(QStringLiteral("/nonexistent/skin/"));
    CPaintManagerUI::SetResourceZip(uitest::EmbeddedSkinZip());
    CResourceManager::GetInstance().Release();
    EXPECT_TRUE(CResourceManager::GetInstance().LoadResource(QStringLiteral("res.xml")));
    EXPECT_EQ(CResourceManager::GetInstance().GetXmlPath(QStringLiteral("XML_MAIN")),
              QStringLiteral("main.xml"));

    // No archive given: nothing is found, and the reason says so.
    CPaintManagerUI::SetResourceZip(QByteArray());
    QString error;
    EXPECT_FALSE(vorn::SkinFiles::Read(QStringLiteral("res.xml"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("archive")));

    // An unknown resource type finds nothing rather than guessing.
    CPaintManagerUI::SetResourceType(2);
    EXPECT_FALSE(vorn::SkinFiles::Read(QStringLiteral("res.xml")));
    EXPECT_EQ(CPaintManagerUI::GetResourceType(), 2);
    CPaintManagerUI::SetResourceType(CPaintManagerUI::kResourceFile);
    CResourceManager::GetInstance().Release();
}

TEST(PaintManager, PathsEndInASlash) {
    CPaintManagerUI::SetInstancePath(QStringLiteral("/opt/client"));
    EXPECT_EQ(CPaintManagerUI::GetInstancePath(), QStringLiteral("/opt/client/"));
    CPaintManagerUI::SetResourcePath(QStringLiteral("Skin\\CEFBrowser\\"));
    EXPECT_EQ(CPaintManagerUI::GetResourcePath(), QStringLiteral("/opt/client/Skin/CEFBrowser/"));
    CPaintManagerUI::SetResourcePath(QStringLiteral("/srv/skin"));
    EXPECT_EQ(CPaintManagerUI::GetResourcePath(), QStringLiteral("/srv/skin/"));
}

static ::testing::Environment* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new uitest::QtApp);
