#pragma once

#include <string_view>

// Diagnostics of the platform layer, in standard C++ only so that the layer builds where no Qt
// exists (the Windows layer is built with mingw-w64 and tested under Wine without Qt). The
// program connects the sink to its Qt logging categories at start-up
// (vorn::log::ConnectPlatformLog, in the logging library); until then, and in programs that never
// connect it, warnings go to standard error and debug and info lines are dropped.
namespace vorn::log {

enum class Level { Debug, Info, Warning };

// The subsystem a line belongs to; the program maps each to its logging category
// (vorn.app, vorn.lock, vorn.card, vorn.probes, vorn.models).
enum class Area { App, Lock, Card, Probes, Models };

// Called on the thread that writes the line; must not block.
using Sink = void (*)(Area area, Level level, std::string_view message);

// Any thread. Null restores the default (warnings to standard error).
void SetSink(Sink sink);

// Any thread. `message` is one line of UTF-8 without a trailing line break.
void Write(Area area, Level level, std::string_view message);

inline void Debug(Area area, std::string_view message) {
    Write(area, Level::Debug, message);
}
inline void Info(Area area, std::string_view message) {
    Write(area, Level::Info, message);
}
inline void Warning(Area area, std::string_view message) {
    Write(area, Level::Warning, message);
}

}  // namespace vorn::log
