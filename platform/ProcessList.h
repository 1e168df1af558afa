#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::platform {

// One running process as the remote-control probe sees it. Texts are the kernel's bytes (UTF-8 on
// a normal system), never re-encoded, so matching works on what the process really is called.
struct ProcessRecord {
    std::uint32_t pid = 0;
    std::string fileName;     // see ProcessFileName
    std::string imagePath;    // target of the exe link; empty when it cannot be read
    std::string commandLine;  // the arguments joined by single spaces; empty for kernel threads
    std::string argv0;        // the first argument, as the process named itself; may be empty
};

// Every process under `procRoot` (the real /proc unless a test passes a fixture tree), in
// ascending pid order. Any thread. Processes that vanish or tell nothing are left out; an
// unreadable `procRoot` gives an empty list.
std::vector<ProcessRecord> EnumerateProcesses(const std::filesystem::path& procRoot = "/proc");

// This process's id, as EnumerateProcesses reports it.
std::uint32_t CurrentProcessId();

// What the remote-control rule that looks past a process's name searches: where executables carry
// a version resource (Windows), its FileDescription, LegalCopyright and OriginalFilename, read from
// the image; elsewhere the image path and the name the process gave itself (argv[0]). Any thread.
std::vector<std::string> ProcessIdentityTexts(const ProcessRecord& record);

// One process, or nothing when it has gone (or has neither exe link, command line nor comm).
std::optional<ProcessRecord> ReadProcessRecord(const std::filesystem::path& procRoot,
                                               std::uint32_t pid);

// The file name rule: basename of the exe link (for a Wine loader, of the Windows program in
// argv[0], split at "\" or "/"), else basename of argv[0], else comm. Pure, any thread.
std::string ProcessFileName(std::string_view exePath,
                            std::string_view argv0,
                            std::string_view comm);

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
