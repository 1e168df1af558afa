#include "browser/CefBrowserUI.h"

#include "browser/BrowserHandler.h"
#include "common/Logging.h"

#include <QShortcut>
#include <QVBoxLayout>
#include <QWebEngineView>

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
