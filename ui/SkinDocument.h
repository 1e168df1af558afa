#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <vector>

namespace vorn {

// One element of a skin document: its tag, its attributes in document order (names lower-cased,
// since DuiLib skins are written in mixed case) and its child elements.
struct SkinNode {
    QString tag;
    QList<QPair<QString, QString>> attributes;
    std::vector<SkinNode> children;
    qint64 line = 0;
    qint64 column = 0;

    // The attribute's value, or `fallback` when absent. `name` must be lower case.
    QString Attribute(const QString& name, const QString& fallback = QString()) const;
    bool HasAttribute(const QString& name) const;
    bool Is(const char* tagName) const {
        return tag.compare(QLatin1String(tagName), Qt::CaseInsensitive) == 0;
    }
};

// An XML skin document parsed into a SkinNode tree. Parsing is pure (any thread, no display).
class SkinDocument {
public:
    // Deeper nesting than this is refused rather than risking the builder's recursion.
    static constexpr int kMaxDepth = 64;

    // Parses `bytes`; `fileName` only names the document in error texts. On failure Ok() is false
    // and Error() says what is wrong, with ErrorLine()/ErrorColumn() (1-based) where it was found.
    static SkinDocument Parse(const QByteArray& bytes, const QString& fileName);

    bool Ok() const { return m_ok; }
    const SkinNode& Root() const { return m_root; }
    const QString& FileName() const { return m_fileName; }
    const QString& Error() const { return m_error; }
    qint64 ErrorLine() const { return m_errorLine; }
    qint64 ErrorColumn() const { return m_errorColumn; }
    // "main.xml:3:17: <what is wrong>" for logs.
    QString ErrorText() const;

private:
    bool m_ok = false;
    SkinNode m_root;
    QString m_fileName;
    QString m_error;
    qint64 m_errorLine = 0;
    qint64 m_errorColumn = 0;
};

}  // namespace vorn
