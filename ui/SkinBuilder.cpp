#include "ui/SkinBuilder.h"

#include "ui/SkinBox.h"
#include "ui/SkinButton.h"
#include "ui/SkinImage.h"
#include "ui/SkinValues.h"

#include <QLabel>

namespace vorn {

namespace {

enum class Kind { Box, Label, Button, Unknown };

Kind KindOf(const SkinNode& node, SkinLayout::Mode* mode, bool* fading, bool* text) {
    *fading = false;
    *text = false;
    *mode = SkinLayout::Mode::Stack;
    if (node.Is("VerticalLayout")) {
        *mode = SkinLayout::Mode::Vertical;
        return Kind::Box;
    }
    if (node.Is("HorizontalLayout")) {
        *mode = SkinLayout::Mode::Horizontal;
        return Kind::Box;
    }
    if (node.Is("Container") || node.Is("Control"))
        return Kind::Box;
    if (node.Is("Label"))
        return Kind::Label;
    if (node.Is("Text")) {
        *text = true;
        return Kind::Label;
    }
    if (node.Is("FadeButton")) {
        *fading = true;
        return Kind::Button;
    }
    if (node.Is("Button") || node.Is("Option"))
        return Kind::Button;
    return Kind::Unknown;
}

bool IsNonControl(const SkinNode& node) {
    return node.Is("Font") || node.Is("Default") || node.Is("Image") || node.Is("Style") ||
           node.Is("Include");
}

void SetLabelColor(QLabel* label, QPalette::ColorGroup group, const QColor& color) {
    QPalette pal = label->palette();
    if (group == QPalette::All) {
        pal.setColor(QPalette::Active, QPalette::WindowText, color);
        pal.setColor(QPalette::Inactive, QPalette::WindowText, color);
    } else {
        pal.setColor(group, QPalette::WindowText, color);
    }
    label->setPalette(pal);
}

}  // namespace

SkinBuilder::SkinBuilder(ClickHandler onClick) : m_onClick(std::move(onClick)) {}

QFont SkinBuilder::FontById(int id) const {
    return m_fonts.value(id, m_defaultFont);
}

void SkinBuilder::Note(const SkinNode& node, const QString& what) {
    // Notes are joined into one line; sentences from other layers lose their full stop.
    QString text = what;
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    m_problems.append(
        QStringLiteral("%1:%2:%3: %4").arg(m_fileName).arg(node.line).arg(node.column).arg(text));
}

void SkinBuilder::NoteBadValue(const SkinNode& node, const QString& attribute) {
    Note(node, QStringLiteral("the value \"%1\" of %2 on <%3> cannot be read and is ignored")
                   .arg(node.Attribute(attribute), attribute, node.tag));
}

QWidget* SkinBuilder::Build(const SkinDocument& document, QWidget* host) {
    m_fileName = document.FileName();
    const SkinNode& root = document.Root();
    if (!root.Is("Window")) {
        m_error =
            QStringLiteral("%1: the root element is <%2>, not <Window>").arg(m_fileName, root.tag);
        return nullptr;
    }
    ReadWindow(root);

    int fontIndex = 0;
    for (const SkinNode& child : root.children) {
        if (child.Is("Font"))
            ReadFont(child, fontIndex++);
    }

    QWidget* rootWidget = nullptr;
    for (const SkinNode& child : root.children) {
        if (child.Is("Font"))
            continue;
        if (IsNonControl(child)) {
            Note(child, QStringLiteral("<%1> is not supported and is ignored").arg(child.tag));
            continue;
        }
        if (rootWidget) {
            Note(child,
                 QStringLiteral("only the first control of <Window> is shown; <%1> is ignored")
                     .arg(child.tag));
            continue;
        }
        SkinItemMetrics unused;
        rootWidget = BuildControl(child, host, &unused);
    }
    if (!rootWidget) {
        m_error = QStringLiteral("%1:%2:%3: <Window> holds no control")
                      .arg(m_fileName)
                      .arg(root.line)
                      .arg(root.column);
        return nullptr;
    }
    if (m_haveDefaultFont)
        rootWidget->setFont(m_defaultFont);
    return rootWidget;
}

void SkinBuilder::ReadWindow(const SkinNode& node) {
    for (const auto& [name, value] : node.attributes) {
        if (name == QLatin1String("size") || name == QLatin1String("mininfo") ||
            name == QLatin1String("maxinfo") || name == QLatin1String("roundcorner")) {
            const auto size = SkinValues::ParseSize(value);
            if (!size) {
                NoteBadValue(node, name);
                continue;
            }
            if (name == QLatin1String("size"))
                m_window.size = *size;
            else if (name == QLatin1String("mininfo"))
                m_window.minSize = *size;
            else if (name == QLatin1String("maxinfo"))
                m_window.maxSize = *size;
            else
                m_window.roundCorner = *size;
        } else if (name == QLatin1String("sizebox") || name == QLatin1String("caption")) {
            const auto quad = SkinValues::ParseQuad(value);
            if (!quad) {
                NoteBadValue(node, name);
                continue;
            }
            (name == QLatin1String("sizebox") ? m_window.sizeBox : m_window.caption) = *quad;
        }
        // layered, showshadow and the shadow attributes have no effect here: the window
        // manager draws any shadow, and the window is never made translucent.
    }
}

void SkinBuilder::ReadFont(const SkinNode& node, int index) {
    QFont font;
    const QString family = node.Attribute(QStringLiteral("name"));
    if (!family.isEmpty())
        font.setFamily(family);
    if (node.HasAttribute(QStringLiteral("size"))) {
        const auto size = SkinValues::ParseInt(node.Attribute(QStringLiteral("size")));
        if (size && *size > 0 && *size < 1000)
            font.setPixelSize(*size);  // DuiLib sizes are character heights in pixels
        else
            NoteBadValue(node, QStringLiteral("size"));
    }
    auto flag = [&](const char* attribute) {
        const QString key = QLatin1String(attribute);
        if (!node.HasAttribute(key))
            return false;
        const auto v = SkinValues::ParseBool(node.Attribute(key));
        if (!v)
            NoteBadValue(node, key);
        return v.value_or(false);
    };
    font.setBold(flag("bold"));
    font.setUnderline(flag("underline"));
    font.setItalic(flag("italic"));
    int id = index;
    if (node.HasAttribute(QStringLiteral("id"))) {
        const auto v = SkinValues::ParseInt(node.Attribute(QStringLiteral("id")));
        if (v)
            id = *v;
        else
            NoteBadValue(node, QStringLiteral("id"));
    }
    if (!m_fonts.contains(id))
        m_fonts.insert(id, font);
    if (flag("default") && !m_haveDefaultFont) {
        m_defaultFont = font;
        m_haveDefaultFont = true;
    }
}

QWidget* SkinBuilder::BuildControl(const SkinNode& node,
                                   QWidget* parent,
                                   SkinItemMetrics* metrics) {
    SkinLayout::Mode mode;
    bool fading, isText;
    const Kind kind = KindOf(node, &mode, &fading, &isText);
    if (kind == Kind::Unknown) {
        Note(node,
             QStringLiteral("unknown element <%1> is ignored with its contents").arg(node.tag));
        return nullptr;
    }

    SkinBox* box = nullptr;
    QLabel* label = nullptr;
    SkinButton* button = nullptr;
    QWidget* widget = nullptr;
    if (kind == Kind::Box) {
        widget = box = new SkinBox(mode, parent);
    } else if (kind == Kind::Label) {
        widget = label = new QLabel(parent);
        // Text set at run time may come from a page; it is never read as HTML.
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(isText ? Qt::AlignLeft | Qt::AlignTop
                                   : Qt::AlignLeft | Qt::AlignVCenter);
        label->setWordWrap(isText);
    } else {
        widget = button = new SkinButton(fading, parent);
        button->setCheckable(node.Is("Option"));
        // The handler is copied: the builder is gone long before the button is clicked.
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [onClick = m_onClick, button]() {
                             if (onClick)
                                 onClick(button);
                         });
    }
    m_widgets.append(widget);

    int borderSize = 0;
    QColor borderColor;
    for (const auto& [name, value] : node.attributes) {
        auto bad = [&]() { NoteBadValue(node, name); };
        auto intValue = [&](int* target, int lo) {
            const auto v = SkinValues::ParseInt(value);
            if (v && *v >= lo)
                *target = *v;
            else
                bad();
        };
        if (name == QLatin1String("name")) {
            widget->setObjectName(value);
        } else if (name == QLatin1String("width")) {
            intValue(&metrics->width, 0);
        } else if (name == QLatin1String("height")) {
            intValue(&metrics->height, 0);
        } else if (name == QLatin1String("minwidth")) {
            intValue(&metrics->minWidth, 0);
        } else if (name == QLatin1String("minheight")) {
            intValue(&metrics->minHeight, 0);
        } else if (name == QLatin1String("maxwidth")) {
            intValue(&metrics->maxWidth, 0);
        } else if (name == QLatin1String("maxheight")) {
            intValue(&metrics->maxHeight, 0);
        } else if (name == QLatin1String("padding")) {
            if (const auto q = SkinValues::ParseQuad(value))
                metrics->padding = *q;
            else
                bad();
        } else if (name == QLatin1String("visible")) {
            if (const auto v = SkinValues::ParseBool(value))
                widget->setVisible(*v);
            else
                bad();
        } else if (name == QLatin1String("enabled")) {
            if (const auto v = SkinValues::ParseBool(value))
                widget->setEnabled(*v);
            else
                bad();
        } else if (name == QLatin1String("tooltip")) {
            widget->setToolTip(value);
        } else if (name == QLatin1String("float") || name == QLatin1String("pos")) {
            Note(node, QStringLiteral("%1 is not supported; <%2> is laid out with its siblings")
                           .arg(name, node.tag));
        } else if (name == QLatin1String("bkcolor")) {
            const auto c = SkinValues::ParseColor(value);
            if (!c) {
                bad();
            } else if (box) {
                box->SetBackgroundColor(*c);
            } else if (button) {
                button->SetBackgroundColor(*c);
            } else if (label) {
                QPalette pal = label->palette();
                pal.setColor(QPalette::Window, *c);
                label->setPalette(pal);
                label->setAutoFillBackground(true);
            }
        } else if (name == QLatin1String("bordersize") && box) {
            intValue(&borderSize, 0);
        } else if (name == QLatin1String("bordercolor") && box) {
            if (const auto c = SkinValues::ParseColor(value))
                borderColor = *c;
            else
                bad();
        } else if (name == QLatin1String("inset") && box) {
            if (const auto q = SkinValues::ParseQuad(value))
                box->Layout()->SetInset(*q);
            else
                bad();
        } else if (name == QLatin1String("childpadding") && box) {
            int padding = 0;
            intValue(&padding, 0);
            box->Layout()->SetChildPadding(padding);
        } else if (name == QLatin1String("bkimage") && box) {
            const auto ref = SkinValues::ParseImage(value);
            QString error;
            const SkinImage image = ref ? SkinImage::Load(*ref, m_imageCache, &error) : SkinImage();
            if (!ref)
                bad();
            else if (image.IsNull())
                Note(node, error);
            else
                box->SetBackgroundImage(image);
        } else if (name == QLatin1String("text") && (label || button)) {
            if (label)
                label->setText(value);
            else
                button->setText(value);
        } else if (name == QLatin1String("font") && (label || button)) {
            const auto id = SkinValues::ParseInt(value);
            if (id && m_fonts.contains(*id))
                widget->setFont(m_fonts.value(*id));
            else
                bad();
        } else if ((name == QLatin1String("textcolor") ||
                    name == QLatin1String("disabledtextcolor")) &&
                   (label || button)) {
            const auto c = SkinValues::ParseColor(value);
            const bool disabled = name == QLatin1String("disabledtextcolor");
            if (!c)
                bad();
            else if (label)
                SetLabelColor(label, disabled ? QPalette::Disabled : QPalette::All, *c);
            else if (disabled)
                button->SetDisabledTextColor(*c);
            else
                button->SetTextColor(*c);
        } else if ((name == QLatin1String("align") || name == QLatin1String("valign")) &&
                   (label || button)) {
            if (label)
                label->setAlignment(SkinValues::ParseAlign(value, label->alignment()));
            else
                button->SetTextAlignment(SkinValues::ParseAlign(value, Qt::AlignCenter));
        } else if (name == QLatin1String("textpadding") && (label || button)) {
            if (const auto q = SkinValues::ParseQuad(value)) {
                if (label)
                    label->setContentsMargins(*q);
                else
                    button->SetTextPadding(*q);
            } else {
                bad();
            }
        } else if (button &&
                   (name == QLatin1String("normalimage") || name == QLatin1String("hotimage") ||
                    name == QLatin1String("pushedimage") ||
                    name == QLatin1String("disabledimage") ||
                    name == QLatin1String("selectedimage"))) {
            const auto ref = SkinValues::ParseImage(value);
            if (!ref) {
                bad();
                continue;
            }
            QString error;
            const SkinImage image = SkinImage::Load(*ref, m_imageCache, &error);
            if (image.IsNull()) {
                Note(node, error);
                continue;
            }
            SkinButton::State state = SkinButton::State::Normal;
            if (name == QLatin1String("hotimage"))
                state = SkinButton::State::Hot;
            else if (name == QLatin1String("pushedimage"))
                state = SkinButton::State::Pushed;
            else if (name == QLatin1String("disabledimage"))
                state = SkinButton::State::Disabled;
            else if (name == QLatin1String("selectedimage"))
                state = SkinButton::State::Selected;
            button->SetStateImage(state, image);
        } else if (name == QLatin1String("selected") && button && button->isCheckable()) {
            if (const auto v = SkinValues::ParseBool(value))
                button->setChecked(*v);
            else
                bad();
        }
        // Any other DuiLib attribute has no effect in this client's skin.
    }
    if (box)
        box->SetBorder(borderSize, borderColor);

    for (const SkinNode& child : node.children) {
        if (!box) {
            Note(child,
                 QStringLiteral("<%1> cannot hold <%2>; it is ignored").arg(node.tag, child.tag));
            continue;
        }
        SkinItemMetrics childMetrics;
        if (QWidget* c = BuildControl(child, box, &childMetrics))
            box->Layout()->AddWidget(c, childMetrics);
    }
    return widget;
}

}  // namespace vorn
