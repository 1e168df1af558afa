#include "common/LogSink.h"

#include <atomic>
#include <cstdio>

namespace vorn::log {
namespace {

std::atomic<Sink> g_sink{nullptr};

}  // namespace

void SetSink(Sink sink) {
    g_sink.store(sink);
}

void Write(Area area, Level level, std::string_view message) {
    if (const Sink sink = g_sink.load()) {
        sink(area, level, message);
        return;
    }
    if (level == Level::Warning)
        std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
}

}  // namespace vorn::log
