#pragma once

#include "ui/SkinValues.h"

#include <QHash>
#include <QPixmap>

class QPainter;

namespace vorn {

// A skin image ready to draw: the source part of the image file, where it goes in the control and
// its opacity. Null when the file could not be read. Main thread (QPixmap).
class SkinImage {
public:
    SkinImage() = default;

    // Loads the file of `ref` through SkinFiles, reusing `cache` (file name -> pixmap, null pixmaps
    // remember failures). A source rectangle reaching past the image is cut to the image.
    // Returns a null image, with *error set (if given), when the file is missing or not an image.
    static SkinImage Load(const SkinImageRef& ref,
                          QHash<QString, QPixmap>& cache,
                          QString* error = nullptr);

    bool IsNull() const { return m_pixmap.isNull(); }
    const QPixmap& Pixmap() const { return m_pixmap; }
    // Draws the image stretched over `target` (or over dest inside it) at `opacity` (0..1).
    void Draw(QPainter& painter, const QRect& target, qreal opacity = 1.0) const;

private:
    QPixmap m_pixmap;
    QRect m_dest;
    qreal m_fade = 1.0;
};

}  // namespace vorn
