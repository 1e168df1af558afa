#include "ui/WindowImplBase.h"

#include "common/Logging.h"
#include "ui/ResourceManager.h"
#include "ui/SkinBox.h"
#include "ui/SkinDocument.h"
#include "ui/SkinFiles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include <cmath>
#include <utility>

namespace {

Qt::CursorShape CursorFor(Qt::Edges edges) {
    const bool left = edges & Qt::LeftEdge, right = edges & Qt::RightEdge;
    const bool top = edges & Qt::TopEdge, bottom = edges & Qt::BottomEdge;
    if ((left && top) || (right && bottom))
        return Qt::SizeFDiagCursor;
    if ((right && top) || (left && bottom))
        return Qt::SizeBDiagCursor;
    if (left || right)
        return Qt::SizeHorCursor;
    return Qt::SizeVerCursor;
}

// Marks the widgets the skin built; anything else in the window is not the skin's to handle.
constexpr char kSkinWidget[] = "vornSkinWidget";

bool IsButton(QWidget* widget, QWidget* window) {
    for (QWidget* w = widget; w && w != window; w = w->parentWidget()) {
        if (qobject_cast<QAbstractButton*>(w))
            return true;
    }
    return false;
}

}  // namespace

namespace vorn::ui {

WindowImplBase::WindowImplBase(QWidget* parent) : QWidget(parent) {}

bool WindowImplBase::CreateFromSkin() {
    if (m_created) {
        qCWarning(lcUi) << "CreateFromSkin called twice; the window keeps its first skin.";
        return m_skinLoaded;
    }
    m_created = true;

    const QString skinFile = GetSkinFile();
    const QString indexed = CResourceManager::GetInstance().GetXmlPath(skinFile);
    const QString file = indexed.isEmpty() ? skinFile : indexed;

    QString error;
    const auto bytes = vorn::SkinFiles::Read(file, &error);
    if (!bytes) {
        return OpenWithoutSkin(error);
    }
    const vorn::SkinDocument document = vorn::SkinDocument::Parse(*bytes, file);
    if (!document.Ok()) {
        return OpenWithoutSkin(
            QStringLiteral("The skin document %1 is malformed at line %2, column %3: %4.")
                .arg(file)
                .arg(document.ErrorLine())
                .arg(document.ErrorColumn())
                .arg(document.Error()));
    }

    vorn::SkinBuilder builder([this](QWidget* sender) { OnClick(sender); });
    QWidget* root = builder.Build(document, this);
    if (!root) {
        return OpenWithoutSkin(
            QStringLiteral("The skin document %1 cannot be used: %2.").arg(file, builder.Error()));
    }
    if (!builder.Problems().isEmpty()) {
        qCWarning(lcUi).noquote() << QStringLiteral("The skin document %1 has %2 problem(s): %3")
                                         .arg(file)
                                         .arg(builder.Problems().size())
                                         .arg(builder.Problems().join(QStringLiteral("; ")));
    }

    AdoptSkin(root, builder, file);
    m_skinLoaded = true;
    setWindowFlag(Qt::FramelessWindowHint, true);
    ApplyWindowInfo();
    InitWindow();
    return true;
}

// The built controls fill the window; the page's panel is added when the skin has none, and
// every control the skin made reports its mouse to the window (caption drag, border resize).
void WindowImplBase::AdoptSkin(QWidget* root,
                               const vorn::SkinBuilder& builder,
                               const QString& file) {
    auto* layout = new vorn::SkinLayout(vorn::SkinLayout::Mode::Vertical, this);
    layout->AddWidget(root, vorn::SkinItemMetrics());
    if (!FindControl(QStringLiteral("webpanel"))) {
        qCWarning(lcUi).noquote() << QStringLiteral(
                                         "The skin document %1 has no container named "
                                         "\"webpanel\"; one is added below its controls.")
                                         .arg(file);
        auto* panel = new vorn::SkinBox(vorn::SkinLayout::Mode::Stack, this);
        panel->setObjectName(QStringLiteral("webpanel"));
        layout->AddWidget(panel, vorn::SkinItemMetrics());
    }
    for (QWidget* w : builder.Widgets()) {
        w->setProperty(kSkinWidget, true);
        w->installEventFilter(this);
        // Hover moves are needed to show the resize cursor over the border.
        w->setMouseTracking(true);
    }
    m_info = builder.Window();
}

bool WindowImplBase::OpenWithoutSkin(const QString& why) {
    qCWarning(lcUi).noquote()
        << why << "The window opens with a plain frame and without the skin's title bar.";
    BuildFallback();
    InitWindow();
    return false;
}

void WindowImplBase::BuildFallback() {
    auto* layout = new vorn::SkinLayout(vorn::SkinLayout::Mode::Vertical, this);
    auto* panel = new vorn::SkinBox(vorn::SkinLayout::Mode::Stack, this);
    panel->setObjectName(QStringLiteral("webpanel"));
    layout->AddWidget(panel, vorn::SkinItemMetrics());
}

void WindowImplBase::ApplyWindowInfo() {
    // A minimum size larger than the screen would push a maximised window past the screen's
    // edges; the skin's figures are meant for screens at least that large.
    QSize available(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (const QScreen* s = screen())
        available = s->availableGeometry().size();
    if (m_info.minSize.isValid())
        setMinimumSize(m_info.minSize.boundedTo(available));
    if (m_info.maxSize.isValid() && !m_info.maxSize.isEmpty())
        setMaximumSize(m_info.maxSize);
    if (m_info.size.isValid() && !m_info.size.isEmpty()) {
        if (m_startArea.isValid()) {
            // A window restored by hand takes the skin's size as it is written.
            m_firstRestore.setSize(m_info.size);
            m_firstRestore.moveCenter(m_startArea.center());
        } else {
            resize(m_info.size.boundedTo(available).expandedTo(minimumSize()));
        }
    }
    UpdateMask();
}

QWidget* WindowImplBase::FindControl(const QString& name) const {
    if (name.isEmpty())
        return nullptr;
    return findChild<QWidget*>(name);
}

void WindowImplBase::SetCaptionRect(const QRect& rect) {
    m_info.caption = QMargins(rect.x(), rect.y(), rect.width(), rect.height());
    m_dragPending = false;
}

QRect WindowImplBase::GetCaptionRect() const {
    const QMargins& c = m_info.caption;
    return QRect(c.left(), c.top(), c.right(), c.bottom());
}

WindowImplBase::HitArea WindowImplBase::HitTest(const QPoint& pos, Qt::Edges* edges) const {
    Qt::Edges found;
    const int w = width(), h = height();
    if (m_skinLoaded && !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
        const QMargins& box = m_info.sizeBox;
        if (pos.x() < box.left())
            found |= Qt::LeftEdge;
        if (pos.x() >= w - box.right())
            found |= Qt::RightEdge;
        if (pos.y() < box.top())
            found |= Qt::TopEdge;
        if (pos.y() >= h - box.bottom())
            found |= Qt::BottomEdge;
    }
    if (edges)
        *edges = found;
    if (found)
        return HitArea::Border;
    const QMargins& cap = m_info.caption;
    if (m_skinLoaded && pos.x() >= cap.left() && pos.x() < w - cap.right() &&
        pos.y() >= cap.top() && pos.y() < cap.bottom())
        return HitArea::Caption;
    return HitArea::Client;
}

void WindowImplBase::StartMaximizedOver(const QRect& area) {
    m_startArea = area;
    m_firstRestore = QRect(QPoint(), QSize(800, 572));
    m_firstRestore.moveCenter(area.center());
    setGeometry(area);
}

void WindowImplBase::ShowStartMaximized() {
    // Restoring may go below the skin's minimum size, as the window never asked for one.
    setMinimumSize(0, 0);
    showMaximized();
}

void WindowImplBase::ShowRestored() {
    showNormal();
    // The manager restores to the maximised size first; this request comes after it.
    if (m_firstRestore.isValid())
        setGeometry(std::exchange(m_firstRestore, QRect()));
}

void WindowImplBase::OnCaptionDoubleClick() {
    if (isMaximized())
        ShowRestored();
    else
        showMaximized();
}

bool WindowImplBase::eventFilter(QObject* watched, QEvent* event) {
    if (watched->isWidgetType() && HandleMouse(static_cast<QWidget*>(watched), event))
        return true;
    return QWidget::eventFilter(watched, event);
}

bool WindowImplBase::HandleMouse(QWidget* receiver, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    // An event a foreign child (the browser view) did not take travels up to its skin parent;
    // it stays the child's: a press in the page must never drag or resize the window.
    const QWidget* under = receiver->childAt(mouse->position().toPoint());
    if (under && !under->property(kSkinWidget).toBool())
        return false;
    const QPoint pos = receiver->mapTo(this, mouse->position().toPoint());
    Qt::Edges edges;
    const HitArea area = HitTest(pos, &edges);
    const bool onButton = IsButton(receiver, this);

    switch (type) {
        case QEvent::MouseMove:
            return HandleMouseMove(*mouse, area, edges);
        case QEvent::MouseButtonPress:
            return HandleMousePress(*mouse, area, edges, onButton);
        case QEvent::MouseButtonRelease:
            if (m_dragPending && mouse->button() == Qt::LeftButton) {
                m_dragPending = false;
                return true;
            }
            return false;
        case QEvent::MouseButtonDblClick:
            if (mouse->button() == Qt::LeftButton && area == HitArea::Caption && !onButton) {
                m_dragPending = false;
                OnCaptionDoubleClick();
                return true;
            }
            return false;
        default:
            return false;
    }
}

// A pending caption drag becomes the manager's move once the mouse travelled far enough;
// without a button held, the cursor shows which border resizes.
bool WindowImplBase::HandleMouseMove(const QMouseEvent& mouse, HitArea area, Qt::Edges edges) {
    if (m_dragPending && (mouse.buttons() & Qt::LeftButton)) {
        if ((mouse.globalPosition().toPoint() - m_pressGlobal).manhattanLength() >=
            QApplication::startDragDistance()) {
            m_dragPending = false;
            if (QWindow* handle = windowHandle())
                handle->startSystemMove();
        }
        return true;
    }
    if (mouse.buttons() == Qt::NoButton) {
        if (area == HitArea::Border)
            setCursor(CursorFor(edges));
        else
            unsetCursor();
    }
    return false;
}

bool WindowImplBase::HandleMousePress(const QMouseEvent& mouse,
                                      HitArea area,
                                      Qt::Edges edges,
                                      bool onButton) {
    if (mouse.button() != Qt::LeftButton)
        return false;
    if (area == HitArea::Border) {
        if (QWindow* handle = windowHandle())
            handle->startSystemResize(edges);
        return true;
    }
    if (area == HitArea::Caption && !onButton) {
        // The move starts once the mouse travels, so that a double click still arrives here
        // instead of going to the window manager's move.
        m_dragPending = true;
        m_pressGlobal = mouse.globalPosition().toPoint();
        return true;
    }
    return false;
}

void WindowImplBase::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdateMask();
}

void WindowImplBase::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        m_dragPending = false;
        unsetCursor();
        UpdateMask();
    }
    QWidget::changeEvent(event);
}

void WindowImplBase::UpdateMask() {
    const QSize corner = m_info.roundCorner;
    if (!m_skinLoaded || corner.width() <= 0 || corner.height() <= 0 ||
        (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
        if (!mask().isEmpty())
            clearMask();
        return;
    }
    // Rows near the top and bottom edges are cut short by the corner ellipse (width cx, height
    // cy); for the skin's 2 x 2 that removes just the corner pixels. QRegion's own ellipses are
    // too coarse at this size: a 2 x 2 ellipse region is the full square.
    const QRect r = rect();
    const int cx = qMin(corner.width(), r.width() / 2), cy = qMin(corner.height(), r.height() / 2);
    const double rx = cx / 2.0, ry = cy / 2.0;
    const int rows = cy / 2;
    QRegion region(r.adjusted(0, rows, 0, -rows));
    for (int y = 0; y < rows; ++y) {
        const double dy = (ry - y - 0.5) / ry;
        const int inset =
            static_cast<int>(std::ceil(rx - rx * std::sqrt(qMax(0.0, 1.0 - dy * dy))));
        const QRect row(r.left() + inset, 0, r.width() - 2 * inset, 1);
        region += row.translated(0, r.top() + y);
        region += row.translated(0, r.bottom() - y);
    }
    setMask(region);
}

}  // namespace vorn::ui
