#pragma once

#include <QString>

namespace vorn::platform {

// Registers the executable as the handler of scheme://... URLs for the current user: a desktop
// entry "<scheme>.desktop" in the user's applications folder and the default handler in
// mimeapps.list. Both files are rewritten on every call; other entries of mimeapps.list are kept.
// Returns false when a file could not be written (the reason is logged).
bool RegisterUrlScheme(const QString& scheme, const QString& executablePath);

// The texts written, separated out so they can be checked without touching the user's files.
QString DesktopEntryText(const QString& scheme, const QString& executablePath);
QString MimeAppsWithDefault(const QString& existing, const QString& mimeType, const QString& entry);

}  // namespace vorn::platform
