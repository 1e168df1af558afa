#pragma once

#include <QByteArray>
#include <QString>

namespace vorn {

// Process-wide resource settings of the UI layer: where the client folder is and where, and in
// which form, the skin lives. Main thread only; the values live until the process ends.
class CPaintManagerUI {
public:
    enum ResourceType { kResourceFile = 1, kResourceZip = 4 };

    // The client folder. Default: the application's folder. A "/" is appended when missing.
    static void SetInstancePath(const QString& folder);
    // The client folder, ending in "/"; empty before a QCoreApplication exists and nothing was set.
    static QString GetInstancePath();
    // 1: skin files below the resource path; 4: the skin archive given to SetResourceZip.
    // Any other value is kept and read back, but finds no skin.
    static void SetResourceType(int type);
    static int GetResourceType();
    // The skin folder of type 1 (names inside the type-4 archive are used as they stand).
    // Backslashes become "/", a "/" is appended when missing, a relative path is taken below the
    // instance path.
    static void SetResourcePath(const QString& path);
    static QString GetResourcePath();
    // The skin archive for type 4, copied (implicitly shared). Empty bytes clear it.
    static void SetResourceZip(const QByteArray& zipBytes);
    static QByteArray GetResourceZip();
};

}  // namespace vorn
