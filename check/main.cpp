// vornclient-check: tells an exam centre, before an exam, whether this machine is ready for the
// client (see README). Exit status 0: nothing blocks an exam; 1: something does; 2: usage error.
#include "check/JsonText.h"
#include "check/Readiness.h"
#include "platform/Program.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

constexpr char kUsage[] =
    "Usage: vornclient-check [--json] [--read-card] [--expect-card] [--createprotocol]\n"
    "                        [--card-timeout SECONDS] [--client-folder FOLDER]\n"
    "Reports whether this machine is ready for an exam with the client.\n"
    "  --json            one JSON object instead of the text report\n"
    "  --read-card       also read and print the card on the reader (for a technician)\n"
    "  --expect-card     a card reader must be usable here (also when config.ini sets ComPort)\n"
    "  --createprotocol  register the client as the handler of vornapp: links first\n"
    "  --card-timeout    how long the card reader may take to answer (1-600 s, default 20)\n"
    "  --client-folder   the client to check (default: the folder of this program)\n"
    "Exit status: 0 ready, 1 something blocks an exam, 2 usage error.\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "vornclient-check: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

bool IsFolder(const std::string& utf8Path) {
    std::error_code ec;
    const std::u8string units(utf8Path.begin(), utf8Path.end());
    return std::filesystem::is_directory(std::filesystem::path(units), ec);
}

// What the command line asks for.
struct Invocation {
    vorn::check::Options options;
    bool json = false;
    bool createProtocol = false;
};

// Reads `args` into `out`; an exit status instead when the program ends here (help printed, or
// a usage error).
std::optional<int> ParseArguments(const std::vector<std::string>& args, Invocation& out) {
    vorn::check::Options& options = out.options;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--json") {
            out.json = true;
        } else if (arg == "--read-card") {
            options.readCard = true;
        } else if (arg == "--expect-card") {
            options.expectCard = true;
        } else if (arg == "--createprotocol" || arg == "/createprotocol") {
            out.createProtocol = true;
        } else if (arg == "--card-timeout") {
            const std::string value = i + 1 < args.size() ? args[++i] : std::string();
            int seconds = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
                seconds < 1 || seconds > 600)
                return Usage("--card-timeout needs a number of seconds from 1 to 600.");
            options.cardDeadline = std::chrono::seconds(seconds);
        } else if (arg == "--client-folder") {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return Usage("--client-folder needs a folder.");
            options.clientFolder = args[++i];
            // A report on a folder that is not there would read as a client without a reader,
            // settings or models, not as a mistyped path.
            if (!IsFolder(options.clientFolder))
                return Usage("--client-folder " + vorn::check::TerminalText(options.clientFolder) +
                             " is not a folder.");
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            return Usage("unknown option " + std::string(arg) + ".");
        }
    }
    return std::nullopt;
}

// Without --client-folder the client is the one beside this program. The folder ends in a
// separator; false, with a message, when this program's own folder cannot be told.
bool SettleClientFolder(const vorn::platform::IProgram& program, std::string& folder) {
    if (folder.empty()) {
        const std::string self = program.ExecutablePath();
        const std::size_t cut = self.find_last_of(vorn::platform::kFolderSeparators);
        if (cut == std::string::npos) {
            std::fputs(
                "vornclient-check: cannot tell which folder this program is in; name the "
                "client's folder with --client-folder.\n",
                stderr);
            return false;
        }
        folder = self.substr(0, cut);
    }
    if (std::string_view(vorn::platform::kFolderSeparators).find(folder.back()) ==
        std::string_view::npos)
        folder += vorn::platform::kFolderSeparator;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::unique_ptr<vorn::platform::IProgram> program = vorn::platform::CreateProgram();
    program->UseUtf8Console();
    Invocation invocation;
    if (const std::optional<int> status =
            ParseArguments(program->Arguments(argc, argv), invocation))
        return *status;
    vorn::check::Options& options = invocation.options;
    if (!SettleClientFolder(*program, options.clientFolder))
        return 2;

    if (invocation.createProtocol && !vorn::check::RegisterClient(options.clientFolder))
        std::fputs("vornclient-check: vornapp: links could not be registered (see above).\n",
                   stderr);

    const vorn::check::Report report = vorn::check::Gather(options);
    const std::string text =
        invocation.json ? vorn::check::ToJson(report) : vorn::check::ToText(report);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    const int code = vorn::check::Blockers(report).empty() ? 0 : 1;
    // A card library call that never came back is still running on its worker: end without
    // waiting for it.
    if (report.cardReader.timedOut)
        std::_Exit(code);
    return code;
}
