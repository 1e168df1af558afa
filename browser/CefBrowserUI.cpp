#include "browser/CefBrowserUI.h"

#include "browser/BrowserHandler.h"
#include "common/Logging.h"

#include <QLayout>
#include <QShortcut>
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
    for (const QKeySequence& key : {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)}) {
        // The page's view holds the focus; the key reaches us once the page has not taken it
        // as an editing command.
        auto* shortcut = new QShortcut(key, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (m_handler)
                m_handler->ReloadPage();
        });
        m_reloadKeys.append(shortcut);
    }
}

void CCefBrowserUI::SetReloadKeysEnabled(bool enabled) {
    for (QShortcut* shortcut : m_reloadKeys)
        shortcut->setEnabled(enabled);
}

CCefBrowserUI::~CCefBrowserUI() {
    // The page must go before the profile does; the view owns it through us.
    delete m_view;
    delete m_handler;
}

bool CCefBrowserUI::CreateBrowser(QWebEngineProfile* profile, ICefBrowserHandler* window) {
    if (m_view)
        return false;
    m_handler = new CBrowserHandler(profile, this);
    m_handler->SetWindow(window);
    m_view = new QWebEngineView(this);
    m_view->setObjectName(objectName());
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_view->setPage(m_handler);
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
