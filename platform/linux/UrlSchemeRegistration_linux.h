#pragma once

#include "platform/UrlSchemeRegistration.h"

#include <QString>

// The freedesktop side of the URL-scheme registration: a desktop entry "<scheme>.desktop" in the
// user's applications folder and the default handler in mimeapps.list, both rewritten on every
// call. The texts are separated out so they can be checked without touching the user's files.
namespace vorn::platform {

QString DesktopEntryText(const QString& scheme, const QString& executablePath);
QString MimeAppsWithDefault(const QString& existing, const QString& mimeType, const QString& entry);

// The path of the desktop entry `entryName` installed system-wide (in a data folder other than
// the user's own), or empty when there is none.
QString FindSystemDesktopEntry(const QString& entryName);

}  // namespace vorn::platform
