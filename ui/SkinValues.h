#pragma once

#include <QColor>
#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

namespace vorn {

// An image reference of the skin documents: either a bare file name or DuiLib's attribute list
// "file='x.png' source='l,t,r,b' dest='l,t,r,b' fade='0..255'". Rectangles are stored as
// QRect(left, top, right - left, bottom - top); a null rectangle means "the whole image" (source)
// or "the whole control" (dest).
struct SkinImageRef {
    QString file;
    QRect source;
    QRect dest;
    int fade = 255;
};

// Parsers for the attribute values of skin documents. Pure functions, any thread. Each returns
// std::nullopt when the text is not a valid value, so the caller can keep its default.
class SkinValues {
public:
    // "#AARRGGBB", "#RRGGBB" (opaque) or "0xAARRGGBB".
    static std::optional<QColor> ParseColor(const QString& text);
    // "cx,cy" with non-negative integers.
    static std::optional<QSize> ParseSize(const QString& text);
    // "l,t,r,b" as four integers, kept as QMargins(l, t, r, b); negative values allowed.
    static std::optional<QMargins> ParseQuad(const QString& text);
    // "l,t,r,b" as a rectangle QRect(l, t, r - l, b - t); right/bottom below left/top is invalid.
    static std::optional<QRect> ParseSourceRect(const QString& text);
    // A decimal integer, optionally signed.
    static std::optional<int> ParseInt(const QString& text);
    // "true"/"false" (any case); anything else is invalid.
    static std::optional<bool> ParseBool(const QString& text);
    // An image attribute; empty text or a reference without a file is invalid.
    static std::optional<SkinImageRef> ParseImage(const QString& text);
    // Text alignment from DuiLib words ("left", "center", "right", "top", "vcenter", "bottom"),
    // separated by spaces or commas, applied over `base`.
    static Qt::Alignment ParseAlign(const QString& text, Qt::Alignment base);
};

}  // namespace vorn
