#pragma once

#include <QHash>
#include <QString>

namespace vorn {

// The skin's resource index ("res.xml": identifiers of skin documents mapped to their file
// names). Main thread only.
class CResourceManager {
public:
    // The process-wide instance, created on first use.
    static CResourceManager& GetInstance();

    // Reads and parses the index `name` from the skin (see CPaintManagerUI). Returns false, logs a
    // warning and keeps the previous index when the file is missing or not a valid index.
    bool LoadResource(const QString& name);
    // The document path of the identifier `id` ("XML_MAIN" -> "main.xml"); empty when unknown.
    QString GetXmlPath(const QString& id) const;
    // Forgets the index.
    void Release();

private:
    CResourceManager() = default;
    QHash<QString, QString> m_xml;
};

}  // namespace vorn
