#pragma once

#include <QString>

namespace vorn::platform {

// Registers the executable as the handler of scheme://... URLs for the current user: a desktop
// entry "<scheme>.desktop" in the user's applications folder and the default handler in
// mimeapps.list. Both files are rewritten on every call; other entries of mimeapps.list are kept.
// Returns false when a file could not be written (the reason is logged).
bool RegisterUrlScheme(const QString& scheme, const QString& executablePath);

// Makes an existing desktop entry (by its file name, e.g. a packaged "vornclient.desktop") the
// user's default handler of scheme://... URLs in mimeapps.list, writing no entry of its own.
bool SetDefaultUrlSchemeHandler(const QString& scheme, const QString& desktopEntry);

// The path of the desktop entry `entryName` installed system-wide (in a data folder other than
// the user's own), or empty when there is none.
QString FindSystemDesktopEntry(const QString& entryName);

// The texts written, separated out so they can be checked without touching the user's files.
QString DesktopEntryText(const QString& scheme, const QString& executablePath);
QString MimeAppsWithDefault(const QString& existing, const QString& mimeType, const QString& entry);

}  // namespace vorn::platform
