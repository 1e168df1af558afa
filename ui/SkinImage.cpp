#include "ui/SkinImage.h"

#include "ui/SkinFiles.h"

#include <QPainter>

namespace vorn {

SkinImage SkinImage::Load(const SkinImageRef& ref, QHash<QString, QPixmap>& cache, QString* error) {
    SkinImage image;
    QPixmap whole;
    const auto cached = cache.constFind(ref.file);
    if (cached != cache.constEnd()) {
        whole = *cached;
    } else {
        QString readError;
        if (const auto bytes = SkinFiles::Read(ref.file, &readError)) {
            if (!whole.loadFromData(*bytes))
                readError =
                    QStringLiteral("The skin image \"%1\" is not a readable image.").arg(ref.file);
        }
        cache.insert(ref.file, whole);
        if (whole.isNull() && error)
            *error = readError;
    }
    if (whole.isNull()) {
        if (error && error->isEmpty())
            *error = QStringLiteral("The skin image \"%1\" cannot be read.").arg(ref.file);
        return image;
    }
    const QRect bounds = whole.rect();
    const QRect source = ref.source.isNull() ? bounds : ref.source.intersected(bounds);
    if (source.isEmpty()) {
        if (error)
            *error = QStringLiteral("The source rectangle of \"%1\" lies outside the image.")
                         .arg(ref.file);
        return image;
    }
    image.m_pixmap = source == bounds ? whole : whole.copy(source);
    image.m_dest = ref.dest;
    image.m_fade = ref.fade / 255.0;
    return image;
}

void SkinImage::Draw(QPainter& painter, const QRect& target, qreal opacity) const {
    if (m_pixmap.isNull() || opacity <= 0.0)
        return;
    const QRect where =
        m_dest.isNull() ? target : m_dest.translated(target.topLeft()).intersected(target);
    const qreal previous = painter.opacity();
    painter.setOpacity(previous * opacity * m_fade);
    painter.drawPixmap(where, m_pixmap);
    painter.setOpacity(previous);
}

}  // namespace vorn
