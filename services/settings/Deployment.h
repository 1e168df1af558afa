#pragma once

#include <QString>

// Deployment constants of the exam service. Each has a build-time default (CMake cache variable
// of the same name) and can be overridden at run time by the environment variable of that name,
// for tests and staging. Host values may carry a port ("127.0.0.1:8081").
namespace vorn::deployment {

QString HomePage();           // VORN_HOME_PAGE; empty means the built-in demo page
QString StaticHost();         // VORN_STATIC_HOST
QString HttpResourceHost();   // VORN_HTTP_RESOURCE_HOST, also the model CDN host
QString HttpsResourceHost();  // VORN_HTTPS_RESOURCE_HOST
QString PageHost();           // VORN_PAGE_HOST

// The page a fresh install opens: compiled into the client.
inline constexpr const char* kBuiltInHomePage = "vorn://home/index.html";

}  // namespace vorn::deployment
