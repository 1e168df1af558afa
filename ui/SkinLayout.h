#pragma once

#include <QLayout>
#include <QList>
#include <QMargins>
#include <QWidget>

namespace vorn {

// Size rules of one child of a skin layout, as the skin's width/height/min*/max*/padding say.
// A width or height of 0 means "share the space left over" (horizontal/vertical layouts) or
// "fill the container" (the other axis and containers).
struct SkinItemMetrics {
    int width = 0;
    int height = 0;
    int minWidth = 0;
    int minHeight = 0;
    int maxWidth = QWIDGETSIZE_MAX;
    int maxHeight = QWIDGETSIZE_MAX;
    QMargins padding;  // space outside the child: left, top, right, bottom
};

// The layout of the skin's VerticalLayout, HorizontalLayout and Container elements, with DuiLib's
// rules: fixed-size children keep their size, the others share what is left equally (the last
// one takes the rounding), the inset (may be negative) shrinks the area, and a
// Container stacks every child over the whole area. Hidden children take no space.
// Widgets added through QLayout::addWidget (e.g. the browser view) get default metrics.
// Main thread only; items are owned by the layout, widgets by their parent widget.
class SkinLayout : public QLayout {
public:
    enum class Mode { Horizontal, Vertical, Stack };

    explicit SkinLayout(Mode mode, QWidget* parent = nullptr);
    ~SkinLayout() override;

    void AddWidget(QWidget* widget, const SkinItemMetrics& metrics);
    // The inset ("inset"): space inside the layout's rectangle, each side may be negative.
    // Kept here, not as contentsMargins, for which Qt reads negative values as "style default".
    void SetInset(const QMargins& inset);
    // Space between neighbouring children ("childpadding").
    void SetChildPadding(int pixels) { m_childPadding = pixels; }
    Mode GetMode() const { return m_mode; }

    // QLayout
    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(m_items.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;
    Qt::Orientations expandingDirections() const override;

    // The rectangles the children get inside `area` (the layout's rectangle), in item order;
    // hidden children get an empty rectangle. Exposed for tests of the layout rules.
    QList<QRect> ComputeGeometry(const QRect& area) const;

private:
    struct Entry {
        QLayoutItem* item;
        SkinItemMetrics metrics;
        bool skinItem;  // metrics come from the skin, not from the item's own hints
    };
    // How the main axis is shared among the children without a length of their own.
    struct Shares {
        int adjustables = 0;
        int share = 0;
        int remainder = 0;
    };
    static int Clamp(int v, int lo, int hi);
    QSize ItemMinimum(const Entry& e) const;
    QList<QRect> StackGeometry(const QRect& rc) const;
    Shares ShareMainAxis(int available) const;
    QList<QRect> LineGeometry(const QRect& rc) const;

    Mode m_mode;
    int m_childPadding = 0;
    QMargins m_inset;
    QList<Entry> m_items;
};

}  // namespace vorn
