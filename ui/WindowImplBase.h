#pragma once

#include "ui/SkinBuilder.h"

#include <QPoint>
#include <QRect>
#include <QWidget>

namespace vorn::ui {

// The skinned top-level window: builds its widgets from a skin document, then behaves as a
// frameless window whose caption area drags it and whose border resizes it. Main thread only.
// Subclasses name the skin file, find their controls in InitWindow() and handle clicks in
// OnClick(). A widget added later into a skin container (the browser view in "webpanel") is left
// alone: only the skin's own widgets take part in dragging and resizing.
class WindowImplBase : public QWidget {
    Q_OBJECT
public:
    explicit WindowImplBase(QWidget* parent = nullptr);

    // Builds the skin document GetSkinFile() (an id of the resource index or a file name) from
    // the resource path (files) or the resource zip, applies the window attributes, then calls
    // InitWindow(). Call once, before the window is shown. A missing or malformed skin is logged
    // once (lcUi warning naming the file, the line/column and what is wrong); the window then
    // keeps the window manager's frame and gets a plain layout with an empty container named
    // "webpanel". Returns true when the skin was built.
    bool CreateFromSkin();
    // The first widget of that object name in the window (skin controls and widgets added later
    // alike); nullptr when absent or when `name` is empty.
    QWidget* FindControl(const QString& name) const;
    // DuiLib's caption rectangle, its four numbers in QRect's four slots:
    // QRect(left, top, right, bottom), e.g. QRect(0, 0, 0, 32) for the skin's "0,0,0,32".
    // A press at x in [left, width - right) and y in [top, bottom) drags the window; bottom <= top
    // (QRect() included) means nothing drags it.
    void SetCaptionRect(const QRect& rect);
    QRect GetCaptionRect() const;
    // The skin's "size" and "mininfo"; invalid when the skin gives none.
    QSize SkinWindowSize() const { return m_info.size; }
    QSize SkinMinSize() const { return m_info.minSize; }
    bool SkinLoaded() const { return m_skinLoaded; }

    // A window that will be shown maximised over `area` (the screen's available area): called
    // before CreateFromSkin, it makes the window that size from the start, so nothing in it is
    // laid out at another size first. The skin's size, centred on `area`, becomes the size of
    // its first restore (800×572 without a skin).
    void StartMaximizedOver(const QRect& area);
    // Shows the window maximised (at the area above, when given).
    void ShowStartMaximized();
    // Leaves the maximised state. A window manager restores a window to the size it was mapped
    // with: the first restore of a window shown by ShowStartMaximized goes to the skin's size.
    void ShowRestored();

    // What a press at `pos` (window coordinates) does, ignoring which control lies there:
    // resize from `*edges` (non-empty), drag (Caption) or nothing special (Client).
    enum class HitArea { Client, Caption, Border };
    HitArea HitTest(const QPoint& pos, Qt::Edges* edges) const;

protected:
    virtual QString GetSkinFile() const = 0;
    // Called once by CreateFromSkin after the widgets exist (also after a fallback layout).
    virtual void InitWindow() {}
    // The "click" notification of the skin's buttons.
    virtual void OnClick(QWidget* sender) { Q_UNUSED(sender); }
    // A double click in the caption. Default: maximise, or restore when maximised.
    virtual void OnCaptionDoubleClick();

    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Logs `why`, builds the plain layout and calls InitWindow(); returns false.
    bool OpenWithoutSkin(const QString& why);
    void BuildFallback();
    void AdoptSkin(QWidget* root, const vorn::SkinBuilder& builder, const QString& file);
    void ApplyWindowInfo();
    void UpdateMask();
    // Returns true when the event was taken for dragging or resizing.
    bool HandleMouse(QWidget* receiver, QEvent* event);
    bool HandleMouseMove(const QMouseEvent& mouse, HitArea area, Qt::Edges edges);
    bool HandleMousePress(const QMouseEvent& mouse, HitArea area, Qt::Edges edges, bool onButton);

    vorn::SkinWindowInfo m_info;
    bool m_created = false;
    bool m_skinLoaded = false;
    bool m_dragPending = false;
    QPoint m_pressGlobal;
    QRect m_startArea;     // where the window starts maximised; empty: not given
    QRect m_firstRestore;  // where its first restore goes; empty once restored
};

}  // namespace vorn::ui
