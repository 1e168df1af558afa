#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorn::platform {

// One running process as the remote-control probe sees it. Texts are the system's bytes (UTF-8 on
// a normal system), never re-encoded, so matching works on what the process really is called.
struct ProcessRecord {
    std::uint32_t pid = 0;
    std::string fileName;     // the executable's file name (for a program run by an emulator
                              // such as Wine, the emulated program's)
    std::string imagePath;    // the executable's full path; empty when it cannot be read
    std::string commandLine;  // the arguments joined by single spaces; empty for kernel threads
    std::string argv0;        // the first argument, as the process named itself; may be empty
};

// What a scan that reads one process at a time (IProcessList::EnumerateEach) is told. Called on
// the scanning thread.
class IProcessSink {
public:
    virtual ~IProcessSink() = default;
    // Before process `pid` is read: false leaves it unread.
    virtual bool Reading(std::uint32_t pid) = 0;
    // A process as read (one that vanished or told nothing is not handed over): false ends
    // the scan.
    virtual bool Read(ProcessRecord record) = 0;
};

// This machine's processes.
class IProcessList {
public:
    virtual ~IProcessList() = default;

    // Every process, in ascending pid order. Any thread; blocks for one scan of the process
    // table. Processes that vanish or tell nothing are left out; an unreadable table gives an
    // empty list (logged).
    virtual std::vector<ProcessRecord> Enumerate() const = 0;

    // What Enumerate gives, one process at a time: each pid is offered to `sink` before it is
    // read and each record handed over as soon as it is read, so a caller can stop waiting for
    // a read that does not come back (a process whose memory lock is held can block a read of
    // its command line) and keep what came before. Any thread, also several at once; blocks.
    // Where reads cannot block this way the whole list is read first.
    virtual void EnumerateEach(IProcessSink& sink) const {
        for (ProcessRecord& record : Enumerate()) {
            if (sink.Reading(record.pid) && !sink.Read(std::move(record)))
                return;
        }
    }

    // This process's id, as Enumerate reports it.
    virtual std::uint32_t CurrentProcessId() const = 0;

    // What the remote-control rule that looks past a process's name searches: where executables
    // carry a version resource (Windows), its FileDescription, LegalCopyright and
    // OriginalFilename, read from the image; elsewhere the image path and the name the process
    // gave itself (argv[0]). Any thread.
    virtual std::vector<std::string> IdentityTexts(const ProcessRecord& record) const = 0;
};

// Never null. Any thread.
std::unique_ptr<IProcessList> CreateProcessList();

// The arguments of a command line as ProcessRecord::commandLine holds it (joined by single
// spaces), empty ones dropped, in order; views into `commandLine`. Pure, any thread.
inline std::vector<std::string_view> CommandLineWords(std::string_view commandLine) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < commandLine.size()) {
        const std::size_t end = commandLine.find(' ', pos);
        const std::size_t stop = end == std::string_view::npos ? commandLine.size() : end;
        if (stop > pos)
            words.push_back(commandLine.substr(pos, stop - pos));
        pos = stop + 1;
    }
    return words;
}

// What follows the last of `separators` in `path`; all of `path` when none occurs. "/" for this
// system's paths, "\\/" where a Windows path may appear. Pure, any thread.
inline std::string_view PathBaseName(std::string_view path, std::string_view separators) {
    const std::size_t pos = path.find_last_of(separators);
    return pos == std::string_view::npos ? path : path.substr(pos + 1);
}

}  // namespace vorn::platform
