#include "platform/linux/RemoteSession_linux.h"

#include <array>
#include <cstdlib>
#include <optional>

namespace vorn::platform {
namespace {

// X servers that show their screen to remote viewers instead of local monitors.
constexpr std::array<std::string_view, 10> kRemoteXServers = {
    "Xvnc",   "Xtigervnc", "Xtightvnc", "Xvnc4",     "Xvnc-core",
    "X11rdp", "Xrdp",      "nxagent",   "x2goagent", "Xvfb-for-Xpra",
};
// Programs that copy an existing X display to remote viewers.
constexpr std::array<std::string_view, 3> kDisplayScrapers = {"x11vnc", "x0vncserver",
                                                              "vncserver-x11-core"};
// Screen servers of a desktop session: they serve the session they run in.
constexpr std::array<std::string_view, 2> kSessionScreenServers = {"vino-server", "krfb"};
// Without X: servers of a Wayland session.
constexpr std::array<std::string_view, 1> kWaylandScreenServers = {"wayvnc"};

struct DisplayName {
    bool remoteHost = false;
    std::string_view number;  // digits; empty when the name is not an X display name
};

// "[protocol/][host]:number[.screen]". Local when the host is empty or "unix" (or the protocol
// is unix/local); any other host is reached over the network, "localhost" included: that is
// how SSH forwards X11.
DisplayName ParseDisplay(std::string_view name) {
    DisplayName parsed;
    const size_t colon = name.rfind(':');
    if (colon == std::string_view::npos)
        return parsed;
    std::string_view host = name.substr(0, colon);
    std::string_view number = name.substr(colon + 1);
    number = number.substr(0, number.find('.'));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos)
        return parsed;
    // A DECnet name ("host::0") keeps its second colon in the host part.
    if (host.ends_with(':'))
        host.remove_suffix(1);
    bool localProtocol = false;
    if (const size_t slash = host.find('/'); slash != std::string_view::npos) {
        const std::string_view protocol = host.substr(0, slash);
        localProtocol = protocol == "unix" || protocol == "local";
        host = host.substr(slash + 1);
    }
    parsed.number = number;
    parsed.remoteHost = !localProtocol && !host.empty() && host != "unix";
    return parsed;
}

template <size_t N>
bool NameIn(const std::array<std::string_view, N>& names, std::string_view name) {
    for (std::string_view candidate : names) {
        if (name == candidate || (candidate == "Xvfb-for-Xpra" && name.starts_with(candidate)))
            return true;
    }
    return false;
}

// A server is known by its file name or by argv[0]: xpra starts Xvfb as "Xvfb-for-Xpra-:N".
template <size_t N>
bool ProgramIn(const std::array<std::string_view, N>& names,
               const ProcessRecord& process,
               const std::vector<std::string_view>& words) {
    if (NameIn(names, process.fileName))
        return true;
    if (words.empty())
        return false;
    const size_t slash = words[0].rfind('/');
    return NameIn(names, slash == std::string_view::npos ? words[0] : words[0].substr(slash + 1));
}

// The display a command line names with ":N", "-display :N", "-display=:N" or "display=:N".
std::optional<std::string_view> NamedDisplay(const std::vector<std::string_view>& words) {
    for (size_t i = 1; i < words.size(); ++i) {
        std::string_view word = words[i];
        if ((word == "-display" || word == "--display") && i + 1 < words.size())
            word = words[i + 1];
        for (std::string_view prefix : {"-display=", "--display=", "display=", "Display="}) {
            if (word.starts_with(prefix))
                word.remove_prefix(prefix.size());
        }
        const DisplayName parsed = ParseDisplay(word);
        if (!parsed.number.empty() && !parsed.remoteHost &&
            word.find(':') != std::string_view::npos)
            return parsed.number;
    }
    return std::nullopt;
}

bool IsXrdpXorg(const ProcessRecord& process, const std::vector<std::string_view>& words) {
    if (process.fileName != "Xorg" && process.fileName != "X")
        return false;
    for (size_t i = 1; i < words.size(); ++i) {
        if (words[i].find("xrdp") != std::string_view::npos)
            return true;
    }
    return false;
}

}  // namespace

bool IsRemoteDisplay(std::string_view display, const std::vector<ProcessRecord>& processes) {
    const DisplayName ours = ParseDisplay(display);
    if (ours.remoteHost)
        return true;
    for (const ProcessRecord& process : processes) {
        const std::string_view name = process.fileName;
        const std::vector<std::string_view> words = CommandLineWords(process.commandLine);
        if (ours.number.empty()) {
            if (ProgramIn(kWaylandScreenServers, process, words))
                return true;
            if (name == "weston" && process.commandLine.find("rdp-backend") != std::string::npos)
                return true;
            continue;
        }
        if (ProgramIn(kSessionScreenServers, process, words))
            return true;
        const std::optional<std::string_view> served = NamedDisplay(words);
        if (ProgramIn(kRemoteXServers, process, words) || IsXrdpXorg(process, words)) {
            if (served == ours.number)
                return true;
        } else if (ProgramIn(kDisplayScrapers, process, words)) {
            // Without a display argument a scraper serves the display of its own environment,
            // which in a desktop session is this one.
            if (!served || *served == ours.number)
                return true;
        }
    }
    return false;
}

namespace {

class DisplayRemoteSession : public IRemoteSession {
public:
    bool IsRemote(const std::vector<ProcessRecord>& processes) const override {
        // Read on every call: the answer is about the display this process shows on now.
        const char* display = std::getenv("DISPLAY");
        return IsRemoteDisplay(display ? display : "", processes);
    }
};

}  // namespace

std::unique_ptr<IRemoteSession> CreateRemoteSession() {
    return std::make_unique<DisplayRemoteSession>();
}

}  // namespace vorn::platform
