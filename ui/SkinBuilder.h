#pragma once

#include "ui/SkinDocument.h"
#include "ui/SkinLayout.h"

#include <QFont>
#include <QHash>
#include <QList>
#include <QMargins>
#include <QPixmap>
#include <QSize>
#include <QStringList>

#include <functional>

class QWidget;

namespace vorn {

// The Window element's attributes that shape the top-level window. Invalid sizes mean "not given".
struct SkinWindowInfo {
    QSize size;
    QSize minSize;
    QSize maxSize;
    QMargins sizeBox;   // resize border widths: left, top, right, bottom
    QSize roundCorner;  // corner ellipse width and height
    QMargins caption;   // DuiLib caption rectangle: left inset, top, right inset, bottom
};

// Turns a parsed skin document (root <Window>) into widgets. Controls: VerticalLayout,
// HorizontalLayout, Container, Control, Label, Text, Button, FadeButton, Option; Font elements
// make the font table. Unknown elements are skipped with their children; attribute values that
// cannot be read are skipped (the control keeps its default) and noted in Problems().
// Main thread only; one builder per document.
class SkinBuilder {
public:
    // Called with the button when a Button, FadeButton or Option is clicked.
    using ClickHandler = std::function<void(QWidget* sender)>;

    explicit SkinBuilder(ClickHandler onClick);

    // Builds the document's control tree as children of `host` and returns its root widget, owned
    // by `host`. Returns nullptr, with Error() saying why, when the root element is not <Window>
    // or it holds no control.
    QWidget* Build(const SkinDocument& document, QWidget* host);

    const SkinWindowInfo& Window() const { return m_window; }
    // Every widget built, root first.
    const QList<QWidget*>& Widgets() const { return m_widgets; }
    // "main.xml:12:9: ..." lines about skipped values and elements.
    const QStringList& Problems() const { return m_problems; }
    const QString& Error() const { return m_error; }
    // The font of a Font id, or the default font when the id is unknown.
    QFont FontById(int id) const;

private:
    void ReadWindow(const SkinNode& node);
    void ReadFont(const SkinNode& node, int index);
    QWidget* BuildControl(const SkinNode& node, QWidget* parent, SkinItemMetrics* metrics);
    // Attributes of controls go through one table, name -> setter (SkinBuilder.cpp).
    struct Control;
    static void ApplyAttribute(Control& control, const QString& name, const QString& value);
    static void NoteNotSupported(Control& control, const QString& value);
    static void SetTextColor(Control& control, const QString& value);
    static void SetAlignment(Control& control, const QString& value);
    static void SetStateImage(Control& control, const QString& value);
    void Note(const SkinNode& node, const QString& what);
    void NoteBadValue(const SkinNode& node, const QString& attribute);

    ClickHandler m_onClick;
    QString m_fileName;
    SkinWindowInfo m_window;
    QHash<int, QFont> m_fonts;
    QFont m_defaultFont;
    bool m_haveDefaultFont = false;
    QHash<QString, QPixmap> m_imageCache;
    QList<QWidget*> m_widgets;
    QStringList m_problems;
    QString m_error;
};

}  // namespace vorn
