#include "browser/HomeSchemeHandler.h"

#include <QFile>
#include <QMimeDatabase>
#include <QUrl>
#include <QWebEngineUrlRequestJob>

namespace vorn {

QString CHomeSchemeHandler::ResourcePath(const QUrl& url) {
    if (url.host() != QLatin1String("home"))
        return {};
    const QString path = url.path(QUrl::FullyDecoded);
    // Only plain names below the home folder; the resource system has no "..", but say so.
    if (path.isEmpty() || path.contains(QLatin1String("..")) || path.contains(u'\\'))
        return {};
    return QStringLiteral(":/vorn/home") +
           (path == QLatin1String("/") ? QStringLiteral("/index.html") : path);
}

void CHomeSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const QString resource = ResourcePath(job->requestUrl());
    auto* file = new QFile(resource, job);
    if (resource.isEmpty() || !file->open(QIODevice::ReadOnly)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    const QByteArray mime =
        QMimeDatabase().mimeTypeForFile(resource, QMimeDatabase::MatchExtension).name().toUtf8();
    job->reply(mime, file);
}

}  // namespace vorn
