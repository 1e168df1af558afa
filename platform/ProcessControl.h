#pragma once

#include <cstdint>
#include <memory>

namespace vorn::platform {

// What became of a request to end a process.
enum class EndResult {
    Ended,    // the system took the request; the process is ending
    Gone,     // no such process (it had ended already)
    NotOurs,  // not this program's: not started by it or by a process it started
    Refused,  // ours, but the system refused (logged with the reason)
};

// Ends processes this program started, directly or through its own children, such as the web
// engine's renderers when one stops answering.
class IProcessControl {
public:
    virtual ~IProcessControl() = default;

    // Ends `pid` at once, without giving it a chance to clean up (it is taken to be hung), when it
    // descends from this process. This process itself, ids below 1 (which the system reads as
    // process groups or every process), and an id another program's process took over after ours
    // ended are never touched. Any thread; reads no file a process can hold, so it does not block.
    virtual EndResult EndDescendant(std::int64_t pid) const = 0;
};

// Never null. Any thread.
std::unique_ptr<IProcessControl> CreateProcessControl();

}  // namespace vorn::platform
