#pragma once

#include <QString>
#include <QUrl>

#include <chrono>

// What the browser does about addresses and failed loads, free of the engine so it can be
// tested without a display.
namespace vorn {

// The address "Url" of config.ini names, read as a person would type it: "exam.school.cn/login"
// and "127.0.0.1:8080/x" become http addresses, an absolute path a file address. Empty text
// gives an empty URL (the empty start page), and so does text that names no address at all
// ("exam school"); the caller tells the two apart by the text.
QUrl StartUrlFromSetting(const QString& text);

// Whether a failed load (the engine's network error code, negative) may heal by itself: the
// server unreachable, a time-out, a reset or closed connection, a name not resolved. Certificate
// and TLS failures, HTTP answers and refused addresses are not.
bool IsNetworkFailure(int errorCode);

// The pause before retry number `attempt` (0 first): 2, 4, 8 ... seconds, never more than 60.
std::chrono::seconds RetryPause(int attempt);

}  // namespace vorn
