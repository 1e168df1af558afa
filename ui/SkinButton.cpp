#include "ui/SkinButton.h"

#include <QEnterEvent>
#include <QPainter>

namespace vorn {

namespace {

int Index(SkinButton::State state) {
    return static_cast<int>(state);
}

}  // namespace

SkinButton::SkinButton(bool fading, QWidget* parent) : QAbstractButton(parent), m_fading(fading) {
    setFocusPolicy(Qt::NoFocus);
    m_animation.setDuration(kFadeMs);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_hotLevel = v.toReal();
        update();
    });
}

void SkinButton::SetStateImage(State state, const SkinImage& image) {
    m_images[Index(state)] = image;
    update();
}

bool SkinButton::HasStateImage(State state) const {
    return !m_images[Index(state)].IsNull();
}

void SkinButton::SetBackgroundColor(const QColor& color) {
    m_background = color;
    update();
}

void SkinButton::SetTextColor(const QColor& color) {
    m_textColor = color;
    update();
}

void SkinButton::SetDisabledTextColor(const QColor& color) {
    m_disabledTextColor = color;
    update();
}

void SkinButton::SetTextAlignment(Qt::Alignment alignment) {
    m_alignment = alignment;
    update();
}

void SkinButton::SetTextPadding(const QMargins& padding) {
    m_textPadding = padding;
    update();
}

QSize SkinButton::sizeHint() const {
    const SkinImage& normal = m_images[Index(State::Normal)];
    QSize s = normal.IsNull() ? QSize(0, 0) : normal.Pixmap().size();
    if (!text().isEmpty()) {
        const QSize t = fontMetrics().size(Qt::TextSingleLine, text());
        s = s.expandedTo(t + QSize(m_textPadding.left() + m_textPadding.right() + 8,
                                   m_textPadding.top() + m_textPadding.bottom() + 4));
    }
    return s;
}

void SkinButton::FadeTo(qreal target) {
    m_animation.stop();
    if (!m_fading || !isVisible()) {
        m_hotLevel = target;
        update();
        return;
    }
    m_animation.setStartValue(m_hotLevel);
    m_animation.setEndValue(target);
    m_animation.setDuration(static_cast<int>(kFadeMs * qAbs(target - m_hotLevel)));
    m_animation.start();
}

void SkinButton::enterEvent(QEnterEvent* event) {
    if (isEnabled())
        FadeTo(1.0);
    QAbstractButton::enterEvent(event);
}

void SkinButton::leaveEvent(QEvent* event) {
    FadeTo(0.0);
    QAbstractButton::leaveEvent(event);
}

void SkinButton::changeEvent(QEvent* event) {
    // A button disabled under the mouse must not come back showing its hot state.
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        m_animation.stop();
        m_hotLevel = 0.0;
    }
    QAbstractButton::changeEvent(event);
}

void SkinButton::hideEvent(QHideEvent* event) {
    // maxbtn and restorebtn are hidden right under the mouse that clicked them; when shown
    // again they must look normal until the mouse enters.
    m_animation.stop();
    m_hotLevel = 0.0;
    QAbstractButton::hideEvent(event);
}

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect r = rect();
    if (m_background.isValid() && m_background.alpha() > 0)
        painter.fillRect(r, m_background);

    const SkinImage& normal = m_images[Index(State::Normal)];
    const SkinImage& selected = m_images[Index(State::Selected)];
    const SkinImage& base = (isChecked() && !selected.IsNull()) ? selected : normal;
    const SkinImage& hot = m_images[Index(State::Hot)];
    const SkinImage& pushed = m_images[Index(State::Pushed)];
    const SkinImage& disabled = m_images[Index(State::Disabled)];

    if (!isEnabled()) {
        (disabled.IsNull() ? base : disabled).Draw(painter, r);
    } else if (isDown()) {
        if (!pushed.IsNull())
            pushed.Draw(painter, r);
        else if (!hot.IsNull())
            hot.Draw(painter, r);
        else
            base.Draw(painter, r);
    } else {
        base.Draw(painter, r);
        if (!hot.IsNull() && m_hotLevel > 0.0)
            hot.Draw(painter, r, m_hotLevel);
    }

    if (!text().isEmpty()) {
        QColor color = m_textColor.isValid() ? m_textColor : palette().color(QPalette::ButtonText);
        if (!isEnabled())
            color = m_disabledTextColor.isValid()
                        ? m_disabledTextColor
                        : palette().color(QPalette::Disabled, QPalette::ButtonText);
        painter.setPen(color);
        painter.setFont(font());
        painter.drawText(r.marginsRemoved(m_textPadding), int(m_alignment) | Qt::TextSingleLine,
                         text());
    }
}

}  // namespace vorn
