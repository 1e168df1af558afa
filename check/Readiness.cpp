#include "check/Readiness.h"

#include "check/JsonText.h"
#include "platform/CardLibrary.h"
#include "platform/LockSupport.h"
#include "platform/ProcessList.h"
#include "platform/Program.h"
#include "platform/RegularFile.h"
#include "platform/UrlSchemeRegistration.h"
#include "platform/VideoDevices.h"
#include "services/UrlProtocol.h"
#include "services/card/CardAccess.h"
#include "services/probes/CameraList.h"
#include "services/probes/RemoteControl.h"
#include "services/settings/IniText.h"
#include "services/settings/StateFolder.h"

#include <filesystem>
#include <future>
#include <memory>
#include <thread>

namespace vorn::check {
namespace {

// config.ini and ver.ini are a few lines; the client reads nothing larger either.
constexpr std::size_t kMaxSettingsBytes = 1 << 20;

std::optional<std::string> ReadSettings(const std::string& path) {
    return platform::ReadRegularFile(path, kMaxSettingsBytes, platform::LinkPolicy::Follow);
}

// A ComPort setting is written by the page once it has used the reader on this machine, and an
// administrator sets it for a machine with a reader attached.
bool HasComPortSetting(const std::string& file) {
    const std::optional<std::string> data = ReadSettings(file);
    if (!data)
        return false;
    const std::optional<std::string> value = ini::Value(*data, "Config", "ComPort");
    return value && !ini::Trimmed(*value).empty();
}

std::optional<int> ModelVersion(const std::string& modelFolder) {
    const std::optional<std::string> data =
        ReadSettings(modelFolder + platform::kFolderSeparator + "ver.ini");
    if (!data)
        return std::nullopt;
    const std::optional<std::string> value = ini::Value(*data, "Config", "Ver");
    return value ? ini::ProfileInt(*value) : std::nullopt;
}

// Drives the library the way a reading does; runs on a worker so that a port that never
// answers cannot hold the check forever.
CardReaderState ProbeCard(const platform::ICardLibrary::EntryPoints& api, bool readCard) {
    CardReaderState state;
    const int port = card::OpenPort(api, 0);
    if (port == 0)
        return state;
    state.port = port;
    state.card = api.CVR_Authenticate() == 1;
    if (readCard && state.card && api.CVR_Read_FPContent && api.CVR_Read_FPContent() == 1) {
        // 7.5 KiB: kept off the worker's stack.
        struct Fields {
            card::CardFields texts = {};
        };
        auto fields = std::make_unique<Fields>();
        card::ReadTexts(api, fields->texts);
        static constexpr const char* kKeys[] = {"",          "name",    "sex",       "nation",
                                                "birthday",  "address", "idCode",    "department",
                                                "startDate", "endDate", "nationCode"};
        for (int i = 1; i <= 10; ++i)
            state.fields.push_back(CardField{kKeys[i], Utf16ToUtf8(fields->texts[i])});
    }
    api.CVR_CloseComm();
    return state;
}

CardReaderState CheckCardReader(const Options& options, const std::string& stateFolder) {
    CardReaderState state;
    state.expected = options.expectCard || HasComPortSetting(options.clientFolder + "config.ini") ||
                     HasComPortSetting(stateFolder + "config.ini");
    const platform::ICardLibrary::EntryPoints api =
        platform::CreateCardLibrary()->Load(options.clientFolder);
    state.library = api.CVR_InitComm && api.CVR_Authenticate && api.CVR_CloseComm;
    if (!state.library)
        return state;
    // The library stays loaded for the life of the process, so a worker left inside it when
    // the deadline passes is harmless: the program ends soon after.
    std::packaged_task<CardReaderState()> task(
        [api, readCard = options.readCard] { return ProbeCard(api, readCard); });
    std::future<CardReaderState> result = task.get_future();
    std::thread worker(std::move(task));
    if (result.wait_for(options.cardDeadline) != std::future_status::ready) {
        worker.detach();
        state.timedOut = true;
        return state;
    }
    // Joined, not left to end on its own: a thread still leaving while the process exits can
    // hold the system's loader lock that the exit needs (seen as a hang at exit under Wine).
    worker.join();
    CardReaderState probed = result.get();
    probed.expected = state.expected;
    probed.library = true;
    return probed;
}

const char* RuleName(int rule) {
    switch (rule) {
        case 1:
            return "exact name";
        case 2:
            return "name prefix";
        case 3:
            return "path, own name or version strings";
        default:
            return "none";
    }
}

}  // namespace

std::string Utf16ToUtf8(const char16_t* text) {
    std::string out;
    for (std::size_t i = 0; text[i] != u'\0'; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

namespace {

StateFolderChoice ClientState(const std::string& clientFolder) {
    std::error_code ec;
    const bool marker = std::filesystem::exists(
        std::filesystem::u8path(clientFolder + std::string(kInstalledMarkerName)), ec);
    const std::unique_ptr<platform::IProgram> program = platform::CreateProgram();
    return ChooseStateFolder(clientFolder, program->UserDataFolder(),
                             program->FolderWritable(clientFolder), marker,
                             platform::kFolderSeparator);
}

}  // namespace

bool RegisterClient(const std::string& clientFolder) {
#ifdef _WIN32
    constexpr char kClientName[] = "vornclient.exe";
#else
    constexpr char kClientName[] = "vornclient";
#endif
    return RegisterClientUrlScheme(*platform::CreateUrlSchemeRegistration(),
                                   ClientState(clientFolder).installed, clientFolder + kClientName);
}

Report Gather(const Options& options) {
    Report report;
    report.clientFolder = options.clientFolder;
    const StateFolderChoice state = ClientState(options.clientFolder);
    report.installed = state.installed;

    report.lockAvailable = platform::CreateLockSupport()->DisplayAllowsLock();
    report.cameras = GetVirtualCameraList(*platform::CreateVideoDevices());

    const std::unique_ptr<platform::IProcessList> processes = platform::CreateProcessList();
    const std::uint32_t self = processes->CurrentProcessId();
    for (const platform::ProcessRecord& record : processes->Enumerate()) {
        if (record.pid == self)
            continue;
        const RemoteControlRule rule = MatchRemoteControlRule(*processes, record);
        if (rule != RemoteControlRule::None)
            report.remoteTools.push_back(
                {record.pid, record.fileName, record.imagePath, static_cast<int>(rule)});
    }

    report.cardReader = CheckCardReader(options, state.stateFolder);

    const platform::UrlSchemeHandler handler =
        platform::CreateUrlSchemeRegistration()->FindHandler(kUrlScheme);
    report.urlSchemeRegistered = handler.programFound;
    report.urlSchemeCommand = handler.command;

    report.modelFolder = state.stateFolder + "models";
    report.modelVersion = ModelVersion(report.modelFolder);
    return report;
}

std::vector<std::string> Blockers(const Report& report) {
    std::vector<std::string> blockers;
    for (const RemoteTool& tool : report.remoteTools)
        blockers.push_back("The remote-control program " + tool.name + " (process " +
                           std::to_string(tool.pid) + ") is running.");
    const CardReaderState& card = report.cardReader;
    if (card.expected && !card.library)
        blockers.push_back("The card reader library is missing from the client folder.");
    else if (card.expected && card.timedOut)
        blockers.push_back("The card reader did not answer in time.");
    else if (card.expected && !card.port)
        blockers.push_back("No card reader answers on any port.");
    if (!report.urlSchemeRegistered)
        blockers.push_back(report.urlSchemeCommand.empty()
                               ? "vornapp: links are not registered (run with --createprotocol)."
                               : "vornapp: links start a program that does not exist (run with "
                                 "--createprotocol).");
    return blockers;
}

std::string ToJson(const Report& report) {
    std::vector<std::string> cameras;
    for (const CameraInfo& camera : report.cameras)
        cameras.push_back(JsonObject()
                              .Member("devid", JsonString(camera.devid))
                              .Member("name", JsonString(camera.name))
                              .Member("desc", JsonString(camera.desc))
                              .Text());
    std::vector<std::string> tools;
    for (const RemoteTool& tool : report.remoteTools)
        tools.push_back(JsonObject()
                            .Number("pid", tool.pid)
                            .Member("name", JsonString(tool.name))
                            .Member("imagePath", JsonString(tool.imagePath))
                            .Number("rule", tool.rule)
                            .Member("ruleName", JsonString(RuleName(tool.rule)))
                            .Text());
    const CardReaderState& card = report.cardReader;
    JsonObject reader;
    reader.Bool("expected", card.expected)
        .Bool("library", card.library)
        .Member("port", card.port ? std::to_string(*card.port) : "null")
        .Bool("card", card.card)
        .Bool("timedOut", card.timedOut);
    if (!card.fields.empty()) {
        JsonObject fields;
        for (const CardField& field : card.fields)
            fields.Member(field.key, JsonString(field.value));
        reader.Member("fields", fields.Text());
    }
    std::vector<std::string> blockers;
    for (const std::string& blocker : Blockers(report))
        blockers.push_back(JsonString(blocker));

    return JsonObject()
               .Member("clientFolder", JsonString(report.clientFolder))
               .Bool("installed", report.installed)
               .Bool("lockAvailable", report.lockAvailable)
               .Member("cameras", JsonArray(cameras.data(), cameras.size()))
               .Member("remoteTools", JsonArray(tools.data(), tools.size()))
               .Member("cardReader", reader.Text())
               .Member("urlScheme", JsonObject()
                                        .Bool("registered", report.urlSchemeRegistered)
                                        .Member("command", JsonString(report.urlSchemeCommand))
                                        .Text())
               .Member("models", JsonObject()
                                     .Member("folder", JsonString(report.modelFolder))
                                     .Member("version", report.modelVersion
                                                            ? std::to_string(*report.modelVersion)
                                                            : "null")
                                     .Text())
               .Bool("ready", blockers.empty())
               .Member("blockers", JsonArray(blockers.data(), blockers.size()))
               .Text() +
           "\n";
}

std::string ToText(const Report& report) {
    std::string out;
    const auto line = [&out](const std::string& label, const std::string& text) {
        // Names and paths come from processes, devices and files: what they hold is shown, never
        // played on the technician's terminal.
        out += TerminalText(label) + std::string(label.size() < 18 ? 18 - label.size() : 1, ' ') +
               TerminalText(text) + "\n";
    };
    line("Client folder:",
         report.clientFolder + (report.installed ? " (installed: per-user state)" : " (portable)"));
    line("Application lock:", report.lockAvailable
                                  ? "can be enforced on this display"
                                  : "cannot be enforced here (no X11 display, or a Wayland "
                                    "session); the page is told so");
    if (report.cameras.empty())
        line("Cameras:", "none besides USB cameras");
    for (const CameraInfo& camera : report.cameras)
        line("Camera:", camera.name + " (" + camera.desc + ") " + camera.devid);
    if (report.remoteTools.empty())
        line("Remote control:", "no remote-control program running");
    for (const RemoteTool& tool : report.remoteTools)
        line("Remote control:", tool.name + " (process " + std::to_string(tool.pid) + ", " +
                                    (tool.imagePath.empty() ? "path unknown" : tool.imagePath) +
                                    ") matched by " + RuleName(tool.rule));
    const CardReaderState& card = report.cardReader;
    std::string reader = card.library ? "library found" : "no library in the client folder";
    if (card.library)
        reader += card.timedOut ? "; the reader did not answer in time"
                  : card.port   ? "; answers on port " + std::to_string(*card.port) +
                                    (card.card ? "; a card lies on it" : "; no card on it")
                              : "; no port answers";
    reader += card.expected ? " (a reader is expected here)" : "";
    line("Card reader:", reader);
    for (const CardField& field : card.fields)
        line("  " + field.key + ":", field.value);
    line("vornapp: links:",
         report.urlSchemeRegistered ? "registered, run " + report.urlSchemeCommand
         : report.urlSchemeCommand.empty()
             ? "not registered"
             : "registered to a program that does not exist: " + report.urlSchemeCommand);
    line("Models:", report.modelFolder + (report.modelVersion
                                              ? ", version " + std::to_string(*report.modelVersion)
                                              : ", none installed"));
    const std::vector<std::string> blockers = Blockers(report);
    if (blockers.empty())
        out += "\nReady for an exam.\n";
    else
        out += "\nNot ready for an exam:\n";
    for (const std::string& blocker : blockers)
        out += "  - " + TerminalText(blocker) + "\n";
    return out;
}

}  // namespace vorn::check
