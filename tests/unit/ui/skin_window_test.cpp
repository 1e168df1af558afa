#include "UiTestSupport.h"

#include "ui/ResourceManager.h"
#include "ui/SkinButton.h"
#include "ui/WindowImplBase.h"

#include <QLabel>
#include <QLayout>
#include <QTest>

using vorn::CPaintManagerUI;
using vorn::CResourceManager;
using vorn::SkinButton;
using vorn::ui::WindowImplBase;

namespace {

// A window as the client's main window uses the base: it names its skin, records what the base
// calls back.
class TestWindow : public WindowImplBase {
public:
    explicit TestWindow(QString skin = QStringLiteral("main.xml")) : m_skin(std::move(skin)) {}

    QList<QWidget*> clicks;
    int initCalls = 0;
    int captionDoubleClicks = 0;
    bool webpanelAtInit = false;

protected:
    QString GetSkinFile() const override { return m_skin; }
    void InitWindow() override {
        ++initCalls;
        webpanelAtInit = FindControl(QStringLiteral("webpanel")) != nullptr;
    }
    void OnClick(QWidget* sender) override { clicks.append(sender); }
    void OnCaptionDoubleClick() override { ++captionDoubleClicks; }

private:
    QString m_skin;
};

QRect InWindow(QWidget* w) {
    return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size());
}

class ShippedSkin : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::UseSkinFolder(uitest::SourceSkinDir());
        ASSERT_TRUE(CResourceManager::GetInstance().LoadResource(QStringLiteral("res.xml")));
        ASSERT_TRUE(m_window.CreateFromSkin());
        m_window.resize(1270, 717);
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_window));
    }
    void TearDown() override { CResourceManager::GetInstance().Release(); }

    SkinButton* Button(const char* name) {
        return qobject_cast<SkinButton*>(m_window.FindControl(QString::fromLatin1(name)));
    }
    TestWindow m_window;
};

}  // namespace

TEST_F(ShippedSkin, ControlsAreFoundByName) {
    for (const char* name :
         {"top", "appbar", "title", "minbtn", "maxbtn", "restorebtn", "closebtn", "webpanel"}) {
        EXPECT_TRUE(m_window.FindControl(QString::fromLatin1(name))) << name;
    }
    EXPECT_EQ(m_window.FindControl(QStringLiteral("readbtn")), nullptr);
    EXPECT_EQ(m_window.FindControl(QString()), nullptr);
    EXPECT_EQ(m_window.initCalls, 1);
    EXPECT_TRUE(m_window.webpanelAtInit);

    EXPECT_TRUE(m_window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(m_window.SkinWindowSize(), QSize(1270, 717));
    EXPECT_EQ(m_window.SkinMinSize(), QSize(1270, 717));
    EXPECT_EQ(m_window.GetCaptionRect(), QRect(0, 0, 0, 32));

    // A second call changes nothing and says so.
    uitest::WarningCapture warnings;
    EXPECT_TRUE(m_window.CreateFromSkin());
    EXPECT_EQ(m_window.initCalls, 1);
    EXPECT_EQ(warnings.Messages().size(), 1);
}

TEST_F(ShippedSkin, TitleBarButtonsAsTheSkinDescribesThem) {
    struct Expect {
        const char* name;
        const char* tooltip;
        bool hidden;
    };
    for (const Expect& e :
         {Expect{"minbtn", "最小化", false}, Expect{"maxbtn", "最大化", true},
          Expect{"restorebtn", "还原", false}, Expect{"closebtn", "关闭", false}}) {
        SkinButton* b = Button(e.name);
        ASSERT_TRUE(b) << e.name;
        EXPECT_EQ(b->toolTip(), QString::fromUtf8(e.tooltip)) << e.name;
        EXPECT_EQ(b->isHidden(), e.hidden) << e.name;
        EXPECT_TRUE(b->IsFading()) << e.name;
        EXPECT_TRUE(b->HasStateImage(SkinButton::State::Normal)) << e.name;
        EXPECT_TRUE(b->HasStateImage(SkinButton::State::Hot)) << e.name;
        EXPECT_TRUE(b->HasStateImage(SkinButton::State::Pushed)) << e.name;
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << e.name;
        if (!e.hidden) {
            EXPECT_EQ(b->size(), QSize(30, 30)) << e.name;
        }
    }
    auto* title = qobject_cast<QLabel*>(m_window.FindControl(QStringLiteral("title")));
    ASSERT_TRUE(title);
    EXPECT_FALSE(title->text().isEmpty());
    EXPECT_TRUE(title->font().bold());
    EXPECT_TRUE(title->font().underline());
    EXPECT_EQ(title->font().pixelSize(), 12);
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(Qt::white));
    // The default font (id 0, 13 px) reaches controls without a font of their own.
    EXPECT_EQ(m_window.FindControl(QStringLiteral("webpanel"))->font().pixelSize(), 13);
}

TEST_F(ShippedSkin, LayoutGeometry) {
    // 1-pixel border with inset 1: the title bar starts at (1,1) and spans the inner width.
    EXPECT_EQ(InWindow(m_window.FindControl(QStringLiteral("top"))), QRect(1, 1, 1268, 32));
    EXPECT_EQ(InWindow(m_window.FindControl(QStringLiteral("appbar"))), QRect(1, 1, 1268, 32));
    // The label keeps its padding (10 left, 1 top) and height 30; the three visible buttons take
    // the right-hand 90 pixels, lifted by the group's -1 inset.
    EXPECT_EQ(InWindow(m_window.FindControl(QStringLiteral("title"))), QRect(11, 2, 1168, 30));
    EXPECT_EQ(InWindow(Button("minbtn")), QRect(1179, 0, 30, 30));
    EXPECT_EQ(InWindow(Button("restorebtn")), QRect(1209, 0, 30, 30));
    EXPECT_EQ(InWindow(Button("closebtn")), QRect(1239, 0, 30, 30));
    // The browser panel takes the rest.
    EXPECT_EQ(InWindow(m_window.FindControl(QStringLiteral("webpanel"))), QRect(1, 33, 1268, 683));

    // Swapping maximise and restore, as the main window does, reflows the group.
    Button("restorebtn")->setVisible(false);
    Button("maxbtn")->setVisible(true);
    QApplication::processEvents();
    EXPECT_EQ(InWindow(Button("maxbtn")), QRect(1209, 0, 30, 30));
    EXPECT_EQ(InWindow(Button("closebtn")), QRect(1239, 0, 30, 30));

    // Hiding the app bar leaves an empty blue bar; the panel does not move.
    m_window.FindControl(QStringLiteral("appbar"))->setVisible(false);
    QApplication::processEvents();
    EXPECT_EQ(InWindow(m_window.FindControl(QStringLiteral("webpanel"))), QRect(1, 33, 1268, 683));

    // A widget added to the panel later (the browser view) fills it and follows its size.
    QWidget* view = new QWidget;
    m_window.FindControl(QStringLiteral("webpanel"))->layout()->addWidget(view);
    m_window.resize(1400, 800);
    QApplication::processEvents();
    EXPECT_EQ(InWindow(view), QRect(1, 33, 1398, 766));
}

TEST_F(ShippedSkin, ClickNotificationOnReleaseInside) {
    SkinButton* close = Button("closebtn");
    QTest::mouseClick(close, Qt::LeftButton);
    ASSERT_EQ(m_window.clicks.size(), 1);
    EXPECT_EQ(m_window.clicks.front(), close);

    // Pressed on the button but released elsewhere: no click.
    SkinButton* min = Button("minbtn");
    QTest::mousePress(min, Qt::LeftButton);
    QTest::mouseRelease(min, Qt::LeftButton, {}, QPoint(-20, 15));
    EXPECT_EQ(m_window.clicks.size(), 1);

    // A right click is not a click; a disabled button gives none.
    QTest::mouseClick(min, Qt::RightButton);
    min->setEnabled(false);
    QTest::mouseClick(min, Qt::LeftButton);
    EXPECT_EQ(m_window.clicks.size(), 1);
    min->setEnabled(true);
    QTest::mouseClick(min, Qt::LeftButton);
    ASSERT_EQ(m_window.clicks.size(), 2);
    EXPECT_EQ(m_window.clicks.back(), min);

    // The window may relabel a button at run time; it stays a button.
    min->setText(QStringLiteral("读取中..."));
    EXPECT_EQ(min->text(), QStringLiteral("读取中..."));
}

TEST_F(ShippedSkin, CaptionDoubleClickAndHitAreas) {
    QWidget* title = m_window.FindControl(QStringLiteral("title"));
    QTest::mouseDClick(title, Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_EQ(m_window.captionDoubleClicks, 1);
    // On a button in the caption: no caption action.
    QTest::mouseDClick(Button("closebtn"), Qt::LeftButton);
    EXPECT_EQ(m_window.captionDoubleClicks, 1);
    // Below the caption.
    QTest::mouseDClick(m_window.FindControl(QStringLiteral("webpanel")), Qt::LeftButton, {},
                       QPoint(300, 300));
    EXPECT_EQ(m_window.captionDoubleClicks, 1);

    // A widget added into the title bar later (as the browser view is added into the panel) is
    // not the skin's: events it leaves unhandled do not drag or maximise the window.
    QWidget* foreign = new QWidget(m_window.FindControl(QStringLiteral("top")));
    foreign->setGeometry(500, 2, 50, 20);
    foreign->show();
    QTest::mouseDClick(foreign, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(m_window.captionDoubleClicks, 1);

    Qt::Edges edges;
    EXPECT_EQ(m_window.HitTest(QPoint(100, 10), &edges), WindowImplBase::HitArea::Caption);
    EXPECT_EQ(m_window.HitTest(QPoint(100, 31), &edges), WindowImplBase::HitArea::Caption);
    EXPECT_EQ(m_window.HitTest(QPoint(100, 32), &edges), WindowImplBase::HitArea::Client);
    EXPECT_EQ(m_window.HitTest(QPoint(0, 300), &edges), WindowImplBase::HitArea::Border);
    EXPECT_EQ(edges, Qt::LeftEdge);
    EXPECT_EQ(m_window.HitTest(QPoint(1269, 716), &edges), WindowImplBase::HitArea::Border);
    EXPECT_EQ(edges, Qt::RightEdge | Qt::BottomEdge);
    EXPECT_EQ(m_window.HitTest(QPoint(3, 3), &edges), WindowImplBase::HitArea::Border);
    EXPECT_EQ(edges, Qt::LeftEdge | Qt::TopEdge);
    EXPECT_EQ(m_window.HitTest(QPoint(4, 4), &edges), WindowImplBase::HitArea::Caption);
    EXPECT_EQ(m_window.HitTest(QPoint(1265, 300), &edges), WindowImplBase::HitArea::Client);

    // DuiLib's left and right insets of the caption, and "no caption" while locked.
    m_window.SetCaptionRect(QRect(10, 0, 20, 30));
    EXPECT_EQ(m_window.GetCaptionRect(), QRect(10, 0, 20, 30));
    EXPECT_EQ(m_window.HitTest(QPoint(9, 10), &edges), WindowImplBase::HitArea::Client);
    EXPECT_EQ(m_window.HitTest(QPoint(10, 10), &edges), WindowImplBase::HitArea::Caption);
    EXPECT_EQ(m_window.HitTest(QPoint(1249, 10), &edges), WindowImplBase::HitArea::Caption);
    EXPECT_EQ(m_window.HitTest(QPoint(1250, 10), &edges), WindowImplBase::HitArea::Client);
    EXPECT_EQ(m_window.HitTest(QPoint(100, 30), &edges), WindowImplBase::HitArea::Client);

    m_window.SetCaptionRect(QRect());
    EXPECT_EQ(m_window.HitTest(QPoint(100, 10), &edges), WindowImplBase::HitArea::Client);
    QTest::mouseDClick(title, Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_EQ(m_window.captionDoubleClicks, 1);

    // Maximised: the border no longer resizes.
    m_window.setWindowState(Qt::WindowMaximized);
    EXPECT_EQ(m_window.HitTest(QPoint(0, 300), &edges), WindowImplBase::HitArea::Client);
    EXPECT_FALSE(edges);
}

TEST_F(ShippedSkin, FadingHotState) {
    SkinButton* min = Button("minbtn");
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(min, &enter);
    EXPECT_LT(min->HotLevel(), 1.0) << "a fading button does not jump to its hot state";
    EXPECT_TRUE(QTest::qWaitFor([&] { return min->HotLevel() >= 1.0; }, 2000));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(min, &leave);
    EXPECT_TRUE(QTest::qWaitFor([&] { return min->HotLevel() <= 0.0; }, 2000));

    // Hidden while hot (the maximise button after a click): it comes back normal.
    QApplication::sendEvent(min, &enter);
    EXPECT_TRUE(QTest::qWaitFor([&] { return min->HotLevel() >= 1.0; }, 2000));
    min->hide();
    min->show();
    EXPECT_EQ(min->HotLevel(), 0.0);
}

TEST_F(ShippedSkin, RoundCornersWhenNotMaximised) {
    EXPECT_FALSE(m_window.mask().isEmpty());
    EXPECT_FALSE(m_window.mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(m_window.mask().contains(QPoint(1, 1)));
    EXPECT_TRUE(m_window.mask().contains(QPoint(600, 0)));
    EXPECT_TRUE(m_window.mask().contains(QPoint(1269, 300)));
    m_window.setWindowState(Qt::WindowMaximized);
    EXPECT_TRUE(m_window.mask().isEmpty());
}

TEST(SkinFromArchive, TheEmbeddedSkinBuildsTheSameWindow) {
    CPaintManagerUI::SetResourceType(CPaintManagerUI::kResourceZip);
    CPaintManagerUI::SetResourcePath(QStringLiteral("/nonexistent/"));
    CPaintManagerUI::SetResourceZip(uitest::EmbeddedSkinZip());
    ASSERT_TRUE(CResourceManager::GetInstance().LoadResource(QStringLiteral("res.xml")));
    TestWindow window;
    uitest::WarningCapture warnings;
    EXPECT_TRUE(window.CreateFromSkin());
    EXPECT_TRUE(warnings.Messages().isEmpty()) << warnings.Messages().join('\n').toStdString();
    auto* close = qobject_cast<vorn::SkinButton*>(window.FindControl(QStringLiteral("closebtn")));
    ASSERT_TRUE(close);
    EXPECT_TRUE(close->HasStateImage(vorn::SkinButton::State::Pushed));
    CResourceManager::GetInstance().Release();
    uitest::UseSkinFolder(uitest::SourceSkinDir());
}

static ::testing::Environment* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new uitest::QtApp);
