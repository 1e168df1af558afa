#pragma once

#include "ui/SkinImage.h"

#include <QAbstractButton>
#include <QColor>
#include <QVariantAnimation>

namespace vorn {

// The skin's Button, FadeButton and Option: a button drawn from state images (normal, hot,
// pushed, disabled, and selected for a checkable Option) with optional text over them. A fading
// button blends from normal to hot over kFadeMs when the mouse enters and back when it leaves;
// a plain one switches at once. It never takes keyboard focus, so clicking it leaves the focus
// where it was (in the page). clicked() is emitted on release inside, as QAbstractButton does.
// Main thread only.
class SkinButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class State { Normal, Hot, Pushed, Disabled, Selected };
    static constexpr int kFadeMs = 150;

    explicit SkinButton(bool fading, QWidget* parent = nullptr);

    void SetStateImage(State state, const SkinImage& image);
    bool HasStateImage(State state) const;
    void SetBackgroundColor(const QColor& color);
    void SetTextColor(const QColor& color);
    void SetDisabledTextColor(const QColor& color);
    void SetTextAlignment(Qt::Alignment alignment);
    void SetTextPadding(const QMargins& padding);

    bool IsFading() const { return m_fading; }
    // How far the hot image shows over the normal one: 0 (normal) to 1 (hot).
    qreal HotLevel() const { return m_hotLevel; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void FadeTo(qreal target);

    bool m_fading;
    qreal m_hotLevel = 0.0;
    QVariantAnimation m_animation;
    SkinImage m_images[5];
    QColor m_background;
    QColor m_textColor;
    QColor m_disabledTextColor;
    Qt::Alignment m_alignment = Qt::AlignCenter;
    QMargins m_textPadding;
};

}  // namespace vorn
