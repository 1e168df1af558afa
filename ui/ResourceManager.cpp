#include "ui/ResourceManager.h"

#include "common/Logging.h"
#include "ui/SkinDocument.h"
#include "ui/SkinFiles.h"

namespace vorn {

CResourceManager& CResourceManager::GetInstance() {
    static CResourceManager instance;
    return instance;
}

bool CResourceManager::LoadResource(const QString& name) {
    QString error;
    const auto bytes = vorn::SkinFiles::Read(name, &error);
    if (!bytes) {
        qCWarning(lcUi).noquote() << error;
        return false;
    }
    const vorn::SkinDocument doc = vorn::SkinDocument::Parse(*bytes, name);
    if (!doc.Ok()) {
        qCWarning(lcUi).noquote() << "The skin index cannot be read:" << doc.ErrorText();
        return false;
    }
    if (!doc.Root().Is("Res")) {
        qCWarning(lcUi).noquote() << QStringLiteral(
                                         "The skin index %1 has the root element <%2>, not <Res>.")
                                         .arg(name, doc.Root().tag);
        return false;
    }
    QHash<QString, QString> xml;
    for (const vorn::SkinNode& child : doc.Root().children) {
        if (!child.Is("Xml"))
            continue;
        const QString id = child.Attribute(QStringLiteral("id"));
        const QString path = child.Attribute(QStringLiteral("path"));
        if (id.isEmpty() || path.isEmpty()) {
            qCInfo(lcUi).noquote() << QStringLiteral("%1:%2: <Xml> without id or path ignored")
                                          .arg(name)
                                          .arg(child.line);
            continue;
        }
        // The first entry of an identifier wins, as a lookup in document order would find it.
        if (!xml.contains(id))
            xml.insert(id, path);
    }
    m_xml = std::move(xml);
    return true;
}

QString CResourceManager::GetXmlPath(const QString& id) const {
    return m_xml.value(id);
}

void CResourceManager::Release() {
    m_xml.clear();
}

}  // namespace vorn
