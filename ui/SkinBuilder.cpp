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

// A control being built, as the attribute setters see it.
struct SkinBuilder::Control {
    SkinBuilder& builder;
    const SkinNode& node;
    QWidget* widget;
    SkinBox* box;
    QLabel* label;
    SkinButton* button;
    SkinItemMetrics* metrics;
    int borderSize = 0;
    QColor borderColor;
    QString attribute;  // the one being applied

    void Bad() { builder.NoteBadValue(node, attribute); }
    void Note(const QString& what) { builder.Note(node, what); }
    // The integer value when it is at least `lowest`; otherwise noted, and `*target` kept.
    void SetInt(int* target, const QString& value, int lowest) {
        const auto v = SkinValues::ParseInt(value);
        if (v && *v >= lowest)
            *target = *v;
        else
            Bad();
    }
    // The image a value names, or a null image (noted) when it cannot be read or loaded.
    SkinImage Image(const QString& value) {
        const auto ref = SkinValues::ParseImage(value);
        if (!ref) {
            Bad();
            return SkinImage();
        }
        QString error;
        SkinImage image = SkinImage::Load(*ref, builder.m_imageCache, &error);
        if (image.IsNull())
            Note(error);
        return image;
    }
};

namespace {

// Which controls an attribute applies to; on any other it has no effect, like every attribute
// the table does not name.
enum Applies : unsigned { kBox = 1, kLabel = 2, kButton = 4, kText = kLabel | kButton, kAll = 7 };

}  // namespace

void SkinBuilder::ApplyAttribute(Control& c, const QString& name, const QString& value) {
    using Setter = void (*)(Control&, const QString& value);
    struct Attribute {
        QLatin1StringView name;
        unsigned applies;
        Setter set;
    };
    static const Attribute kAttributes[] = {
        {QLatin1StringView("name"), kAll,
         [](Control& c, const QString& v) { c.widget->setObjectName(v); }},
        {QLatin1StringView("width"), kAll,
         [](Control& c, const QString& v) { c.SetInt(&c.metrics->width, v, 0); }},
        {QLatin1StringView("height"), kAll,
         [](Control& c, const QString& v) { c.SetInt(&c.metrics->height, v, 0); }},
        {QLatin1StringView("minwidth"), kAll,
         [](Control& c, const QString& v) { c.SetInt(&c.metrics->minWidth, v, 0); }},
        {QLatin1StringView("minheight"), kAll,
         [](Control& c, const QString& v) { c.SetInt(&c.metrics->minHeight, v, 0); }},
        {QLatin1StringView("maxwidth"), kAll,
         [](Control& c, const QString& v) { c.SetInt(&c.metrics->maxWidth, v, 0); }},
        {QLatin1StringView("maxheight"), kAll,
         [](Control& c, const QString& v) { c.SetInt(&c.metrics->maxHeight, v, 0); }},
        {QLatin1StringView("padding"), kAll,
         [](Control& c, const QString& v) {
             if (const auto q = SkinValues::ParseQuad(v))
                 c.metrics->padding = *q;
             else
                 c.Bad();
         }},
        {QLatin1StringView("visible"), kAll,
         [](Control& c, const QString& v) {
             if (const auto b = SkinValues::ParseBool(v))
                 c.widget->setVisible(*b);
             else
                 c.Bad();
         }},
        {QLatin1StringView("enabled"), kAll,
         [](Control& c, const QString& v) {
             if (const auto b = SkinValues::ParseBool(v))
                 c.widget->setEnabled(*b);
             else
                 c.Bad();
         }},
        {QLatin1StringView("tooltip"), kAll,
         [](Control& c, const QString& v) { c.widget->setToolTip(v); }},
        {QLatin1StringView("float"), kAll, &NoteNotSupported},
        {QLatin1StringView("pos"), kAll, &NoteNotSupported},
        {QLatin1StringView("bkcolor"), kAll,
         [](Control& c, const QString& v) {
             const auto color = SkinValues::ParseColor(v);
             if (!color) {
                 c.Bad();
             } else if (c.box) {
                 c.box->SetBackgroundColor(*color);
             } else if (c.button) {
                 c.button->SetBackgroundColor(*color);
             } else {
                 QPalette pal = c.label->palette();
                 pal.setColor(QPalette::Window, *color);
                 c.label->setPalette(pal);
                 c.label->setAutoFillBackground(true);
             }
         }},
        {QLatin1StringView("bordersize"), kBox,
         [](Control& c, const QString& v) { c.SetInt(&c.borderSize, v, 0); }},
        {QLatin1StringView("bordercolor"), kBox,
         [](Control& c, const QString& v) {
             if (const auto color = SkinValues::ParseColor(v))
                 c.borderColor = *color;
             else
                 c.Bad();
         }},
        {QLatin1StringView("inset"), kBox,
         [](Control& c, const QString& v) {
             if (const auto q = SkinValues::ParseQuad(v))
                 c.box->Layout()->SetInset(*q);
             else
                 c.Bad();
         }},
        {QLatin1StringView("childpadding"), kBox,
         [](Control& c, const QString& v) {
             // A value that cannot be read still sets no padding.
             int padding = 0;
             c.SetInt(&padding, v, 0);
             c.box->Layout()->SetChildPadding(padding);
         }},
        {QLatin1StringView("bkimage"), kBox,
         [](Control& c, const QString& v) {
             const SkinImage image = c.Image(v);
             if (!image.IsNull())
                 c.box->SetBackgroundImage(image);
         }},
        {QLatin1StringView("text"), kText,
         [](Control& c, const QString& v) {
             if (c.label)
                 c.label->setText(v);
             else
                 c.button->setText(v);
         }},
        {QLatin1StringView("font"), kText,
         [](Control& c, const QString& v) {
             const auto id = SkinValues::ParseInt(v);
             if (id && c.builder.m_fonts.contains(*id))
                 c.widget->setFont(c.builder.m_fonts.value(*id));
             else
                 c.Bad();
         }},
        {QLatin1StringView("textcolor"), kText, &SetTextColor},
        {QLatin1StringView("disabledtextcolor"), kText, &SetTextColor},
        {QLatin1StringView("align"), kText, &SetAlignment},
        {QLatin1StringView("valign"), kText, &SetAlignment},
        {QLatin1StringView("textpadding"), kText,
         [](Control& c, const QString& v) {
             const auto q = SkinValues::ParseQuad(v);
             if (!q)
                 c.Bad();
             else if (c.label)
                 c.label->setContentsMargins(*q);
             else
                 c.button->SetTextPadding(*q);
         }},
        {QLatin1StringView("normalimage"), kButton, &SetStateImage},
        {QLatin1StringView("hotimage"), kButton, &SetStateImage},
        {QLatin1StringView("pushedimage"), kButton, &SetStateImage},
        {QLatin1StringView("disabledimage"), kButton, &SetStateImage},
        {QLatin1StringView("selectedimage"), kButton, &SetStateImage},
        {QLatin1StringView("selected"), kButton,
         [](Control& c, const QString& v) {
             if (!c.button->isCheckable())
                 return;
             if (const auto b = SkinValues::ParseBool(v))
                 c.button->setChecked(*b);
             else
                 c.Bad();
         }},
    };
    const unsigned kind = c.box ? kBox : c.label ? kLabel : kButton;
    for (const Attribute& attribute : kAttributes) {
        if (attribute.name != name)
            continue;
        if (attribute.applies & kind) {
            c.attribute = name;
            attribute.set(c, value);
        }
        return;
    }
    // Any other DuiLib attribute has no effect in this client's skin.
}

void SkinBuilder::NoteNotSupported(Control& c, const QString&) {
    c.Note(QStringLiteral("%1 is not supported; <%2> is laid out with its siblings")
               .arg(c.attribute, c.node.tag));
}

void SkinBuilder::SetTextColor(Control& c, const QString& value) {
    const auto color = SkinValues::ParseColor(value);
    const bool disabled = c.attribute == QLatin1String("disabledtextcolor");
    if (!color)
        c.Bad();
    else if (c.label)
        SetLabelColor(c.label, disabled ? QPalette::Disabled : QPalette::All, *color);
    else if (disabled)
        c.button->SetDisabledTextColor(*color);
    else
        c.button->SetTextColor(*color);
}

void SkinBuilder::SetAlignment(Control& c, const QString& value) {
    if (c.label)
        c.label->setAlignment(SkinValues::ParseAlign(value, c.label->alignment()));
    else
        c.button->SetTextAlignment(SkinValues::ParseAlign(value, Qt::AlignCenter));
}

void SkinBuilder::SetStateImage(Control& c, const QString& value) {
    const SkinImage image = c.Image(value);
    if (image.IsNull())
        return;
    SkinButton::State state = SkinButton::State::Normal;
    if (c.attribute == QLatin1String("hotimage"))
        state = SkinButton::State::Hot;
    else if (c.attribute == QLatin1String("pushedimage"))
        state = SkinButton::State::Pushed;
    else if (c.attribute == QLatin1String("disabledimage"))
        state = SkinButton::State::Disabled;
    else if (c.attribute == QLatin1String("selectedimage"))
        state = SkinButton::State::Selected;
    c.button->SetStateImage(state, image);
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

    Control control{*this, node, widget, box, label, button, metrics};
    for (const auto& [name, value] : node.attributes)
        ApplyAttribute(control, name, value);
    if (box)
        box->SetBorder(control.borderSize, control.borderColor);

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
