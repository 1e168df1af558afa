#include "ui/SkinDocument.h"

#include <QXmlStreamReader>

namespace vorn {

QString SkinNode::Attribute(const QString& name, const QString& fallback) const {
    for (const auto& a : attributes) {
        if (a.first == name)
            return a.second;
    }
    return fallback;
}

bool SkinNode::HasAttribute(const QString& name) const {
    for (const auto& a : attributes) {
        if (a.first == name)
            return true;
    }
    return false;
}

SkinDocument SkinDocument::Parse(const QByteArray& bytes, const QString& fileName) {
    SkinDocument doc;
    doc.m_fileName = fileName;
    QXmlStreamReader xml(bytes);
    // The path from the root to the element being read; children are appended to the back.
    std::vector<SkinNode*> stack;
    bool haveRoot = false;

    auto fail = [&](const QString& what) {
        doc.m_ok = false;
        doc.m_error = what;
        doc.m_errorLine = xml.lineNumber();
        doc.m_errorColumn = xml.columnNumber();
        doc.m_root = SkinNode();
        return doc;
    };

    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (static_cast<int>(stack.size()) >= kMaxDepth)
                return fail(QStringLiteral("elements nested deeper than %1 levels").arg(kMaxDepth));
            SkinNode node;
            node.tag = xml.name().toString();
            node.line = xml.lineNumber();
            node.column = xml.columnNumber();
            for (const QXmlStreamAttribute& a : xml.attributes())
                node.attributes.append({a.name().toString().toLower(), a.value().toString()});
            if (stack.empty()) {
                doc.m_root = std::move(node);
                stack.push_back(&doc.m_root);
                haveRoot = true;
            } else {
                SkinNode* parent = stack.back();
                parent->children.push_back(std::move(node));
                stack.push_back(&parent->children.back());
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (!stack.empty())
                stack.pop_back();
        }
        // A child pushed into a parent's vector can move the parent's earlier children, but never
        // an element on the stack: only the innermost open element receives children.
    }
    if (xml.hasError())
        return fail(xml.errorString());
    if (!haveRoot)
        return fail(QStringLiteral("the document has no root element"));
    doc.m_ok = true;
    return doc;
}

QString SkinDocument::ErrorText() const {
    if (m_ok)
        return QString();
    return QStringLiteral("%1:%2:%3: %4")
        .arg(m_fileName)
        .arg(m_errorLine)
        .arg(m_errorColumn)
        .arg(m_error);
}

}  // namespace vorn
