#include "ui/SkinLayout.h"

#include <QWidget>

#include <algorithm>

namespace vorn {

SkinLayout::SkinLayout(Mode mode, QWidget* parent) : QLayout(parent), m_mode(mode) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
}

SkinLayout::~SkinLayout() {
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void SkinLayout::SetInset(const QMargins& inset) {
    m_inset = inset;
    invalidate();
}

void SkinLayout::AddWidget(QWidget* widget, const SkinItemMetrics& metrics) {
    addChildWidget(widget);
    m_items.append({new QWidgetItem(widget), metrics, true});
    invalidate();
}

void SkinLayout::addItem(QLayoutItem* item) {
    m_items.append({item, SkinItemMetrics(), false});
    invalidate();
}

QLayoutItem* SkinLayout::itemAt(int index) const {
    return index >= 0 && index < m_items.size() ? m_items.at(index).item : nullptr;
}

QLayoutItem* SkinLayout::takeAt(int index) {
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index).item;
    invalidate();
    return item;
}

int SkinLayout::Clamp(int v, int lo, int hi) {
    return std::max(lo, std::min(v, std::max(lo, hi)));
}

QSize SkinLayout::ItemMinimum(const Entry& e) const {
    if (!e.skinItem) {
        const QSize m = e.item->minimumSize();
        return {std::max(0, m.width()), std::max(0, m.height())};
    }
    const SkinItemMetrics& m = e.metrics;
    const int w = m.width > 0 ? Clamp(m.width, m.minWidth, m.maxWidth) : m.minWidth;
    const int h = m.height > 0 ? Clamp(m.height, m.minHeight, m.maxHeight) : m.minHeight;
    return {w, h};
}

QSize SkinLayout::minimumSize() const {
    int main = 0, cross = 0, visible = 0;
    for (const Entry& e : m_items) {
        if (e.item->isEmpty())
            continue;
        ++visible;
        const QSize m = ItemMinimum(e);
        const QMargins& p = e.metrics.padding;
        if (m_mode == Mode::Horizontal) {
            main += m.width() + p.left() + p.right();
            cross = std::max(cross, m.height() + p.top() + p.bottom());
        } else if (m_mode == Mode::Vertical) {
            main += m.height() + p.top() + p.bottom();
            cross = std::max(cross, m.width() + p.left() + p.right());
        } else {
            main = std::max(main, m.width() + p.left() + p.right());
            cross = std::max(cross, m.height() + p.top() + p.bottom());
        }
    }
    if (m_mode != Mode::Stack && visible > 1)
        main += (visible - 1) * m_childPadding;
    const QMargins in = m_inset;
    const int horizontal = in.left() + in.right();
    const int vertical = in.top() + in.bottom();
    QSize s = m_mode == Mode::Vertical ? QSize(cross, main) : QSize(main, cross);
    return QSize(std::max(0, s.width() + horizontal), std::max(0, s.height() + vertical));
}

QSize SkinLayout::sizeHint() const {
    return minimumSize();
}

Qt::Orientations SkinLayout::expandingDirections() const {
    return Qt::Horizontal | Qt::Vertical;
}

QList<QRect> SkinLayout::ComputeGeometry(const QRect& area) const {
    const QMargins in = m_inset;
    const QRect rc(area.left() + in.left(), area.top() + in.top(),
                   area.width() - in.left() - in.right(), area.height() - in.top() - in.bottom());
    return m_mode == Mode::Stack ? StackGeometry(rc) : LineGeometry(rc);
}

// A container: every child over the whole area, within its own padding and limits.
QList<QRect> SkinLayout::StackGeometry(const QRect& rc) const {
    QList<QRect> out;
    out.reserve(m_items.size());
    for (const Entry& e : m_items) {
        if (e.item->isEmpty()) {
            out.append(QRect());
            continue;
        }
        const SkinItemMetrics& m = e.metrics;
        const QRect inner = rc.marginsRemoved(m.padding);
        const int w = Clamp(m.width > 0 ? m.width : inner.width(), m.minWidth, m.maxWidth);
        const int h = Clamp(m.height > 0 ? m.height : inner.height(), m.minHeight, m.maxHeight);
        out.append(QRect(inner.left(), inner.top(), std::max(0, w), std::max(0, h)));
    }
    return out;
}

// What the fixed children and all paddings take of `available`, and so what each child
// without a length of its own gets (the last of them also takes the rounding).
SkinLayout::Shares SkinLayout::ShareMainAxis(int available) const {
    const bool horizontal = m_mode == Mode::Horizontal;
    int fixed = 0, adjustables = 0, visible = 0;
    for (const Entry& e : m_items) {
        if (e.item->isEmpty())
            continue;
        ++visible;
        const SkinItemMetrics& m = e.metrics;
        const int size = horizontal ? m.width : m.height;
        const int lo = horizontal ? m.minWidth : m.minHeight;
        const int hi = horizontal ? m.maxWidth : m.maxHeight;
        fixed += horizontal ? m.padding.left() + m.padding.right()
                            : m.padding.top() + m.padding.bottom();
        if (size > 0)
            fixed += Clamp(size, lo, hi);
        else
            ++adjustables;
    }
    if (visible > 1)
        fixed += (visible - 1) * m_childPadding;
    Shares shares;
    shares.adjustables = adjustables;
    shares.share = adjustables > 0 ? std::max(0, (available - fixed) / adjustables) : 0;
    shares.remainder =
        adjustables > 0 ? std::max(0, available - fixed - shares.share * adjustables) : 0;
    return shares;
}

// A horizontal or vertical layout: children one after the other along the main axis, each
// filling the cross axis unless it has a size there.
QList<QRect> SkinLayout::LineGeometry(const QRect& rc) const {
    const bool horizontal = m_mode == Mode::Horizontal;
    const int crossAvailable = horizontal ? rc.height() : rc.width();
    const Shares shares = ShareMainAxis(horizontal ? rc.width() : rc.height());
    QList<QRect> out;
    out.reserve(m_items.size());
    int pos = horizontal ? rc.left() : rc.top();
    int adjustablesLeft = shares.adjustables;
    for (const Entry& e : m_items) {
        if (e.item->isEmpty()) {
            out.append(QRect());
            continue;
        }
        const SkinItemMetrics& m = e.metrics;
        const int size = horizontal ? m.width : m.height;
        const int lo = horizontal ? m.minWidth : m.minHeight;
        const int hi = horizontal ? m.maxWidth : m.maxHeight;
        int length;
        if (size > 0) {
            length = Clamp(size, lo, hi);
        } else {
            --adjustablesLeft;
            length = shares.share + (adjustablesLeft == 0 ? shares.remainder : 0);
            length = Clamp(length, lo, hi);
        }
        const int crossSize = horizontal ? m.height : m.width;
        const int crossLo = horizontal ? m.minHeight : m.minWidth;
        const int crossHi = horizontal ? m.maxHeight : m.maxWidth;
        const int crossPadding = horizontal ? m.padding.top() + m.padding.bottom()
                                            : m.padding.left() + m.padding.right();
        const int crossLength =
            Clamp(crossSize > 0 ? crossSize : crossAvailable - crossPadding, crossLo, crossHi);

        QRect r;
        if (horizontal) {
            r = QRect(pos + m.padding.left(), rc.top() + m.padding.top(), std::max(0, length),
                      std::max(0, crossLength));
            pos += length + m.padding.left() + m.padding.right() + m_childPadding;
        } else {
            r = QRect(rc.left() + m.padding.left(), pos + m.padding.top(), std::max(0, crossLength),
                      std::max(0, length));
            pos += length + m.padding.top() + m.padding.bottom() + m_childPadding;
        }
        out.append(r);
    }
    return out;
}

void SkinLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const QList<QRect> rects = ComputeGeometry(rect);
    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items.at(i).item->isEmpty())
            continue;
        // Widgets are placed directly: QWidgetItem would bend the rectangle to the widget's own
        // size policy, and the skin's sizes are meant exactly.
        if (QWidget* w = m_items.at(i).item->widget())
            w->setGeometry(rects.at(i));
        else
            m_items.at(i).item->setGeometry(rects.at(i));
    }
}

}  // namespace vorn
