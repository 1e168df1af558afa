#include "services/settings/Deployment.h"

#include <QByteArray>

namespace vorn::deployment {
namespace {

QString FromEnvironment(const char* name, const char* builtIn) {
    // An empty variable counts as set only for the home page, where empty is meaningful.
    if (qEnvironmentVariableIsSet(name))
        return qEnvironmentVariable(name);
    return QString::fromUtf8(builtIn);
}

QString Host(const char* name, const char* builtIn) {
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? QString::fromUtf8(builtIn) : value;
}

}  // namespace

QString HomePage() {
    const QString page = FromEnvironment("VORN_HOME_PAGE", VORN_DEFAULT_HOME_PAGE);
    return page.isEmpty() ? QString::fromLatin1(kBuiltInHomePage) : page;
}
QString StaticHost() {
    return Host("VORN_STATIC_HOST", VORN_DEFAULT_STATIC_HOST);
}
QString HttpResourceHost() {
    return Host("VORN_HTTP_RESOURCE_HOST", VORN_DEFAULT_HTTP_RESOURCE_HOST);
}
QString HttpsResourceHost() {
    return Host("VORN_HTTPS_RESOURCE_HOST", VORN_DEFAULT_HTTPS_RESOURCE_HOST);
}
QString PageHost() {
    return Host("VORN_PAGE_HOST", VORN_DEFAULT_PAGE_HOST);
}

}  // namespace vorn::deployment
