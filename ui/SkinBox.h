#pragma once

#include "ui/SkinImage.h"
#include "ui/SkinLayout.h"

#include <QColor>
#include <QWidget>

namespace vorn {

// The widget of the skin's VerticalLayout, HorizontalLayout, Container and Control elements: it
// paints its background colour, background image and border, and owns a SkinLayout of its
// children. Main thread only.
class SkinBox : public QWidget {
    Q_OBJECT
public:
    explicit SkinBox(SkinLayout::Mode mode, QWidget* parent = nullptr);

    SkinLayout* Layout() const { return m_layout; }
    void SetBackgroundColor(const QColor& color);
    void SetBackgroundImage(const SkinImage& image);
    // A border of `width` pixels drawn inside the box's rectangle; 0 or an invalid colour: none.
    void SetBorder(int width, const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SkinLayout* m_layout;
    QColor m_background;
    SkinImage m_backgroundImage;
    int m_borderWidth = 0;
    QColor m_borderColor;
};

}  // namespace vorn
