#include "ui/SkinValues.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>

namespace vorn {

namespace {

std::optional<QList<int>> ParseInts(const QString& text, int count) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count)
        return std::nullopt;
    QList<int> values;
    for (const QString& part : parts) {
        bool ok = false;
        const int v = part.trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
        values.append(v);
    }
    return values;
}

}  // namespace

std::optional<QColor> SkinValues::ParseColor(const QString& text) {
    QString hex = text.trimmed();
    if (hex.startsWith(QLatin1Char('#')))
        hex.remove(0, 1);
    else if (hex.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        hex.remove(0, 2);
    else
        return std::nullopt;
    if (hex.size() != 6 && hex.size() != 8)
        return std::nullopt;
    bool ok = false;
    const uint value = hex.toUInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    // Six digits carry no alpha; a skin author writing them means an opaque colour.
    const QRgb argb = hex.size() == 6 ? (0xFF000000u | value) : value;
    return QColor::fromRgba(argb);
}

std::optional<QSize> SkinValues::ParseSize(const QString& text) {
    const auto v = ParseInts(text, 2);
    if (!v || (*v)[0] < 0 || (*v)[1] < 0)
        return std::nullopt;
    return QSize((*v)[0], (*v)[1]);
}

std::optional<QMargins> SkinValues::ParseQuad(const QString& text) {
    const auto v = ParseInts(text, 4);
    if (!v)
        return std::nullopt;
    return QMargins((*v)[0], (*v)[1], (*v)[2], (*v)[3]);
}

std::optional<QRect> SkinValues::ParseSourceRect(const QString& text) {
    const auto v = ParseInts(text, 4);
    if (!v)
        return std::nullopt;
    const int l = (*v)[0], t = (*v)[1], r = (*v)[2], b = (*v)[3];
    if (l < 0 || t < 0 || r <= l || b <= t)
        return std::nullopt;
    return QRect(l, t, r - l, b - t);
}

std::optional<int> SkinValues::ParseInt(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

std::optional<bool> SkinValues::ParseBool(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

std::optional<SkinImageRef> SkinValues::ParseImage(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    SkinImageRef ref;
    if (!t.contains(QLatin1Char('='))) {
        ref.file = t;
        return ref;
    }
    // key='value' pairs; values are quoted with single quotes and cannot contain one.
    int pos = 0;
    while (pos < t.size()) {
        while (pos < t.size() && t.at(pos).isSpace())
            ++pos;
        if (pos >= t.size())
            break;
        const int eq = t.indexOf(QLatin1Char('='), pos);
        if (eq < 0)
            return std::nullopt;
        const QString key = t.mid(pos, eq - pos).trimmed().toLower();
        int open = eq + 1;
        while (open < t.size() && t.at(open).isSpace())
            ++open;
        if (open >= t.size() || t.at(open) != QLatin1Char('\''))
            return std::nullopt;
        const int close = t.indexOf(QLatin1Char('\''), open + 1);
        if (close < 0)
            return std::nullopt;
        const QString value = t.mid(open + 1, close - open - 1);
        pos = close + 1;

        if (key == QLatin1String("file") || key == QLatin1String("res")) {
            ref.file = value.trimmed();
        } else if (key == QLatin1String("source")) {
            if (const auto r = ParseSourceRect(value))
                ref.source = *r;
            else
                return std::nullopt;
        } else if (key == QLatin1String("dest")) {
            if (const auto r = ParseSourceRect(value))
                ref.dest = *r;
            else
                return std::nullopt;
        } else if (key == QLatin1String("fade")) {
            const auto f = ParseInt(value);
            if (!f || *f < 0 || *f > 255)
                return std::nullopt;
            ref.fade = *f;
        }
        // Other DuiLib keys (corner, mask, hole, xtiled, ytiled, restype) are not used by our
        // skin and are accepted without effect.
    }
    if (ref.file.isEmpty())
        return std::nullopt;
    return ref;
}

Qt::Alignment SkinValues::ParseAlign(const QString& text, Qt::Alignment base) {
    Qt::Alignment align = base;
    const QStringList words =
        text.toLower().split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    for (const QString& w : words) {
        if (w == QLatin1String("left"))
            align = (align & ~Qt::AlignHorizontal_Mask) | Qt::AlignLeft;
        else if (w == QLatin1String("center"))
            align = (align & ~Qt::AlignHorizontal_Mask) | Qt::AlignHCenter;
        else if (w == QLatin1String("right"))
            align = (align & ~Qt::AlignHorizontal_Mask) | Qt::AlignRight;
        else if (w == QLatin1String("top"))
            align = (align & ~Qt::AlignVertical_Mask) | Qt::AlignTop;
        else if (w == QLatin1String("vcenter"))
            align = (align & ~Qt::AlignVertical_Mask) | Qt::AlignVCenter;
        else if (w == QLatin1String("bottom"))
            align = (align & ~Qt::AlignVertical_Mask) | Qt::AlignBottom;
    }
    return align;
}

}  // namespace vorn
