#include "ui/SkinBox.h"

#include <QPainter>

namespace vorn {

SkinBox::SkinBox(SkinLayout::Mode mode, QWidget* parent)
    : QWidget(parent), m_layout(new SkinLayout(mode, this)) {}

void SkinBox::SetBackgroundColor(const QColor& color) {
    m_background = color;
    update();
}

void SkinBox::SetBackgroundImage(const SkinImage& image) {
    m_backgroundImage = image;
    update();
}

void SkinBox::SetBorder(int width, const QColor& color) {
    m_borderWidth = qMax(0, width);
    m_borderColor = color;
    update();
}

void SkinBox::paintEvent(QPaintEvent*) {
    const bool border = m_borderWidth > 0 && m_borderColor.isValid() && m_borderColor.alpha() > 0;
    const bool fill = m_background.isValid() && m_background.alpha() > 0;
    if (!border && !fill && m_backgroundImage.IsNull())
        return;
    QPainter painter(this);
    const QRect r = rect();
    if (fill)
        painter.fillRect(r, m_background);
    m_backgroundImage.Draw(painter, r);
    if (border) {
        const int w = qMin(m_borderWidth, qMin(r.width(), r.height()) / 2);
        painter.fillRect(QRect(r.left(), r.top(), r.width(), w), m_borderColor);
        painter.fillRect(QRect(r.left(), r.bottom() - w + 1, r.width(), w), m_borderColor);
        painter.fillRect(QRect(r.left(), r.top() + w, w, r.height() - 2 * w), m_borderColor);
        painter.fillRect(QRect(r.right() - w + 1, r.top() + w, w, r.height() - 2 * w),
                         m_borderColor);
    }
}

}  // namespace vorn
