#include "UiTestSupport.h"

#include "ui/ResourceManager.h"
#include "ui/SkinButton.h"
#include "ui/SkinLayout.h"
#include "ui/WindowImplBase.h"

#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QTest>

#include <sys/stat.h>

using vorn::CResourceManager;
using vorn::SkinItemMetrics;
using vorn::SkinLayout;
using vorn::ui::WindowImplBase;

namespace {

class TestWindow : public WindowImplBase {
public:
    explicit TestWindow(QString skin) : m_skin(std::move(skin)) {}
    int initCalls = 0;
    bool webpanelAtInit = false;

protected:
    QString GetSkinFile() const override { return m_skin; }
    void InitWindow() override {
        ++initCalls;
        webpanelAtInit = FindControl(QStringLiteral("webpanel")) != nullptr;
    }

private:
    QString m_skin;
};

// Skin documents written into a temporary skin folder.
class SkinCase : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        uitest::UseSkinFolder(m_dir.path());
        CResourceManager::GetInstance().Release();
    }
    void Write(const char* name, const QByteArray& bytes) {
        ASSERT_TRUE(uitest::WriteFile(m_dir.filePath(QString::fromLatin1(name)), bytes));
    }
    // Builds a window from `name` and checks the promises every window keeps, broken skin or not.
    void ExpectUsableWindow(TestWindow& window) {
        EXPECT_EQ(window.initCalls, 1);
        EXPECT_TRUE(window.webpanelAtInit);
        QWidget* panel = window.FindControl(QStringLiteral("webpanel"));
        ASSERT_TRUE(panel);
        ASSERT_TRUE(panel->layout());
        QWidget* view = new QWidget;
        panel->layout()->addWidget(view);
        window.resize(640, 480);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        EXPECT_GT(view->width(), 0);
        EXPECT_GT(view->height(), 0);
    }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(SkinCase, MalformedSkinIsReportedOnceWithFileAndLine) {
    Write("main.xml",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<Window size=\"800,600\" caption=\"0,0,0,32\">\n"
          "  <VerticalLayout>\n"
          "    <Label name=\"title\" text=\"t\">\n"
          "    <Container name=\"webpanel\"/>\n"
          "  </VerticalLayout>\n"
          "</Window>\n");
    TestWindow window(QStringLiteral("main.xml"));
    uitest::WarningCapture warnings;
    EXPECT_FALSE(window.CreateFromSkin());
    const QStringList messages = warnings.Messages();
    ASSERT_EQ(messages.size(), 1) << messages.join('\n').toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("main.xml")));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("line 6"))) << messages[0].toStdString();
    EXPECT_FALSE(window.SkinLoaded());
    // Nothing of the broken document is half-built; the window manager's frame stays.
    EXPECT_EQ(window.FindControl(QStringLiteral("title")), nullptr);
    EXPECT_FALSE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window.GetCaptionRect(), QRect());
    ExpectUsableWindow(window);
}

TEST_F(SkinCase, MissingOrUnusableSkinStillGivesThePanel) {
    {
        TestWindow window(QStringLiteral("main.xml"));
        uitest::WarningCapture warnings;
        EXPECT_FALSE(window.CreateFromSkin());
        ASSERT_EQ(warnings.Messages().size(), 1);
        EXPECT_TRUE(warnings.Messages()[0].contains(QStringLiteral("main.xml")));
        ExpectUsableWindow(window);
    }
    {
        Write("res.xml", "<Res/>");
        Write("other.xml", "<Res><Xml id=\"XML_MAIN\" path=\"main.xml\"/></Res>");
        TestWindow window(QStringLiteral("other.xml"));
        uitest::WarningCapture warnings;
        EXPECT_FALSE(window.CreateFromSkin());
        ASSERT_EQ(warnings.Messages().size(), 1);
        EXPECT_TRUE(warnings.Messages()[0].contains(QStringLiteral("<Window>")));
        ExpectUsableWindow(window);
    }
    {
        Write("empty.xml",
              "<Window size=\"100,100\"><Font id=\"0\" name=\"x\" size=\"12\"/></Window>");
        TestWindow window(QStringLiteral("empty.xml"));
        uitest::WarningCapture warnings;
        EXPECT_FALSE(window.CreateFromSkin());
        EXPECT_EQ(warnings.Messages().size(), 1);
        ExpectUsableWindow(window);
    }
}

// A skin document that is a FIFO, a link to /dev/zero or a link at all must neither stall nor
// flood the start: it reads as unusable, with one warning naming it.
TEST_F(SkinCase, OnlyRegularSkinFilesAreReadAndNoLinkIsFollowed) {
    Write("real.xml", "<Window size=\"100,100\"><VerticalLayout name=\"webpanel\"/></Window>");
    ASSERT_EQ(::mkfifo(QFile::encodeName(m_dir.filePath("fifo.xml")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", m_dir.filePath("zero.xml")));
    ASSERT_TRUE(QFile::link(m_dir.filePath("real.xml"), m_dir.filePath("link.xml")));
    for (const char* name : {"fifo.xml", "zero.xml", "link.xml"}) {
        TestWindow window(QString::fromLatin1(name));
        uitest::WarningCapture warnings;
        EXPECT_FALSE(window.CreateFromSkin()) << name;
        ASSERT_EQ(warnings.Messages().size(), 1) << name;
        EXPECT_TRUE(warnings.Messages()[0].contains(QString::fromLatin1(name))) << name;
        ExpectUsableWindow(window);
    }
    TestWindow window(QStringLiteral("real.xml"));
    EXPECT_TRUE(window.CreateFromSkin());
}

TEST_F(SkinCase, SkinWithoutPanelGetsOne) {
    Write("main.xml",
          "<Window size=\"400,300\"><VerticalLayout><Label name=\"title\" height=\"20\"/>"
          "</VerticalLayout></Window>");
    TestWindow window(QStringLiteral("main.xml"));
    uitest::WarningCapture warnings;
    EXPECT_TRUE(window.CreateFromSkin());
    ASSERT_EQ(warnings.Messages().size(), 1);
    EXPECT_TRUE(warnings.Messages()[0].contains(QStringLiteral("webpanel")));
    EXPECT_TRUE(window.FindControl(QStringLiteral("title")));
    ExpectUsableWindow(window);
}

TEST_F(SkinCase, MissingAttributesAndUnknownElements) {
    Write(
        "main.xml",
        "<Window>\n"
        "  <Default name=\"VScrollBar\" value=\"x\"/>\n"
        "  <VerticalLayout>\n"
        "    <Gadget name=\"gadget\"><FadeButton name=\"ghost\"/></Gadget>\n"
        "    <Button name=\"plain\" width=\"abc\" bkcolor=\"blue\" normalimage=\"missing.png\"/>\n"
        "    <Label name=\"label\" text=\"&lt;b&gt;bold?&lt;/b&gt;\" font=\"7\">\n"
        "      <Button name=\"inside\"/>\n"
        "    </Label>\n"
        "    <Container name=\"webpanel\"/>\n"
        "  </VerticalLayout>\n"
        "  <Container name=\"second\"/>\n"
        "</Window>\n");
    TestWindow window(QStringLiteral("main.xml"));
    uitest::WarningCapture warnings;
    EXPECT_TRUE(window.CreateFromSkin());
    // One warning collects every problem, each with its line.
    const QStringList messages = warnings.Messages();
    ASSERT_EQ(messages.size(), 1) << messages.join('\n').toStdString();
    for (const char* part :
         {"main.xml:2:", "<Gadget>", "main.xml:5:", "\"abc\"", "\"blue\"", "missing.png", "font",
          "<Label> cannot hold <Button>", "only the first control"}) {
        EXPECT_TRUE(messages[0].contains(QString::fromLatin1(part))) << part << "\n"
                                                                     << messages[0].toStdString();
    }
    EXPECT_EQ(window.FindControl(QStringLiteral("gadget")), nullptr);
    EXPECT_EQ(window.FindControl(QStringLiteral("ghost")), nullptr);
    EXPECT_EQ(window.FindControl(QStringLiteral("inside")), nullptr);
    EXPECT_EQ(window.FindControl(QStringLiteral("second")), nullptr);
    auto* plain = qobject_cast<vorn::SkinButton*>(window.FindControl(QStringLiteral("plain")));
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->IsFading());
    EXPECT_FALSE(plain->HasStateImage(vorn::SkinButton::State::Normal));
    // Skin text is shown as text, never as markup.
    auto* label = qobject_cast<QLabel*>(window.FindControl(QStringLiteral("label")));
    ASSERT_TRUE(label);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    // No size in the skin: the window keeps the size it was given.
    EXPECT_FALSE(window.SkinWindowSize().isValid());
    EXPECT_FALSE(window.SkinMinSize().isValid());
    ExpectUsableWindow(window);
    EXPECT_EQ(window.size(), QSize(640, 480));
}

TEST(SkinLayoutRules, HorizontalSharesWhatFixedChildrenLeave) {
    QWidget host;
    SkinLayout layout(SkinLayout::Mode::Horizontal);
    QWidget a(&host), b(&host), c(&host), d(&host);
    SkinItemMetrics fixed;
    fixed.width = 30;
    fixed.height = 20;
    SkinItemMetrics padded;
    padded.padding = QMargins(10, 1, 5, 2);
    layout.AddWidget(&a, padded);
    layout.AddWidget(&b, fixed);
    layout.AddWidget(&c, SkinItemMetrics());
    layout.AddWidget(&d, fixed);
    layout.SetInset(QMargins(0, -1, 0, 0));
    const QList<QRect> r = layout.ComputeGeometry(QRect(0, 0, 201, 32));
    // 201 - 60 fixed - 15 padding = 126, shared by two: 63 each.
    EXPECT_EQ(r[0], QRect(10, 0, 63, 30));  // padding moves it and shrinks its height
    EXPECT_EQ(r[1], QRect(78, -1, 30, 20));
    EXPECT_EQ(r[2], QRect(108, -1, 63, 33));
    EXPECT_EQ(r[3], QRect(171, -1, 30, 20));

    // Odd remainders go to the last sharing child; hidden children take no space.
    d.hide();
    const QList<QRect> r2 = layout.ComputeGeometry(QRect(0, 0, 200, 32));
    EXPECT_EQ(r2[0].width() + r2[2].width(), 200 - 30 - 15);
    EXPECT_EQ(r2[2].right(), 199);
    EXPECT_TRUE(r2[3].isNull());

    // Not enough room: sharing children get nothing rather than a negative width.
    const QList<QRect> r3 = layout.ComputeGeometry(QRect(0, 0, 40, 32));
    EXPECT_EQ(r3[2].width(), 0);
}

TEST(SkinLayoutRules, VerticalStackAndLimits) {
    QWidget host;
    SkinLayout layout(SkinLayout::Mode::Vertical);
    QWidget a(&host), b(&host);
    SkinItemMetrics top;
    top.height = 32;
    SkinItemMetrics rest;
    rest.maxWidth = 100;
    rest.minHeight = 500;
    layout.AddWidget(&a, top);
    layout.AddWidget(&b, rest);
    layout.SetInset(QMargins(1, 1, 1, 1));
    const QList<QRect> r = layout.ComputeGeometry(QRect(0, 0, 300, 400));
    EXPECT_EQ(r[0], QRect(1, 1, 298, 32));
    EXPECT_EQ(r[1], QRect(1, 33, 100, 500));  // the minimum wins over the space left
    EXPECT_EQ(layout.minimumSize(), QSize(2, 32 + 500 + 2));

    SkinLayout stack(SkinLayout::Mode::Stack);
    QWidget c(&host), d(&host);
    SkinItemMetrics small;
    small.width = 10;
    small.height = 10;
    small.padding = QMargins(5, 5, 0, 0);
    stack.AddWidget(&c, SkinItemMetrics());
    stack.AddWidget(&d, small);
    const QList<QRect> s = stack.ComputeGeometry(QRect(0, 0, 80, 60));
    EXPECT_EQ(s[0], QRect(0, 0, 80, 60));
    EXPECT_EQ(s[1], QRect(5, 5, 10, 10));
}

static ::testing::Environment* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new uitest::QtApp);
