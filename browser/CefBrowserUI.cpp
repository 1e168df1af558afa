#include "browser/CefBrowserUI.h"

#include "browser/BrowserHandler.h"
#include "common/Logging.h"
#include "platform/ProcessControl.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QVBoxLayout>
#include <QWebEngineView>

namespace vorn {

namespace {

// The page is first laid out at the size its view has when loading starts, and the widgets of a
// window not shown yet keep their default sizes (a view 100×30) until it is shown. Laying the
// window out now, from the top down, gives the page its real size from its first script on.
void LayOutHiddenWindow(QWidget* window) {
    QList<QWidget*> pending{window};
    while (!pending.isEmpty()) {
        QWidget* widget = pending.takeFirst();
        if (QLayout* layout = widget->layout())
            layout->activate();
        for (QObject* child : widget->children()) {
            if (child->isWidgetType())
                pending.append(static_cast<QWidget*>(child));
        }
    }
}

}  // namespace

CCefBrowserUI::CCefBrowserUI(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}

bool CCefBrowserUI::IsReloadKey(const QKeyEvent* event) const {
    if (!m_reloadKeys || event->isAutoRepeat())
        return false;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    return (event->key() == Qt::Key_F5 && mods == Qt::NoModifier) ||
           (event->key() == Qt::Key_R && mods == Qt::ControlModifier);
}

bool CCefBrowserUI::eventFilter(QObject* watched, QEvent* event) {
    // The engine puts the widget that takes the page's keys inside the view, and replaces it with
    // a new renderer: every child the view gets is watched.
    if (event->type() == QEvent::ChildAdded && watched == m_view) {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType())
            child->installEventFilter(this);
    } else if (event->type() == QEvent::KeyPress && m_handler &&
               IsReloadKey(static_cast<QKeyEvent*>(event))) {
        // On its way to the page, which sees it first (keyPressEvent gets it back when the page
        // lets it pass); a page that never answers is not left to decide.
        m_handler->ReloadKeyPressed();
    }
    return QWidget::eventFilter(watched, event);
}

void CCefBrowserUI::keyPressEvent(QKeyEvent* event) {
    if (m_handler && IsReloadKey(event)) {
        event->accept();
        m_handler->ReloadPage();
        return;
    }
    QWidget::keyPressEvent(event);
}

CCefBrowserUI::~CCefBrowserUI() {
    // The page must go before the profile does; the view owns it through us.
    delete m_view;
    delete m_handler;
}

bool CCefBrowserUI::CreateBrowser(QWebEngineProfile* profile,
                                  ICefBrowserHandler* window,
                                  std::unique_ptr<platform::IProcessControl> processes) {
    if (m_view)
        return false;
    m_handler = new CBrowserHandler(profile, std::move(processes), this);
    m_handler->SetWindow(window);
    m_view = new QWebEngineView(this);
    m_view->installEventFilter(this);
    m_view->setObjectName(objectName());
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_view->setPage(m_handler);
    for (QObject* child : m_view->children()) {
        if (child->isWidgetType())
            child->installEventFilter(this);
    }
    layout()->addWidget(m_view);
    qCDebug(lcBrowser) << "creating browser at" << m_startUrl;
    if (!QWidget::window()->isVisible())
        LayOutHiddenWindow(QWidget::window());
    m_handler->LoadStartAddress(m_startUrl);
    return true;
}

void CCefBrowserUI::LoadURL(const QString& url) {
    if (m_handler)
        m_handler->Load(QUrl(url));
}

void CCefBrowserUI::CloseBrowser() {
    if (m_handler)
        m_handler->CloseBrowser();
}

}  // namespace vorn
