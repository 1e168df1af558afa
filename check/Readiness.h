#pragma once

#include "services/probes/CameraInfo.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The readiness report of an exam machine: what the client would find here, gathered through
// the same platform calls and rules the client uses, without Qt and without the browser engine.
namespace vorn::check {

struct Options {
    std::string clientFolder;  // ends in the system's separator
    bool readCard = false;     // read the card's texts (for a technician)
    bool expectCard = false;   // a reader must be usable here, whatever the settings say
    std::chrono::milliseconds cardDeadline{20000};
};

struct RemoteTool {
    std::uint32_t pid = 0;
    std::string name;
    std::string imagePath;
    int rule = 0;  // 1 exact name, 2 name prefix, 3 path, own name or version strings
};

struct CardField {
    std::string key;
    std::string value;  // UTF-8
};

struct CardReaderState {
    bool expected = false;  // --expect-card, or a ComPort setting in config.ini
    bool library = false;   // the library loaded and has what a reading needs
    std::optional<int> port;
    bool card = false;
    bool timedOut = false;          // the library did not come back within the deadline
    std::vector<CardField> fields;  // only with Options::readCard and a card that read
};

struct Report {
    std::string clientFolder;
    bool installed = false;
    bool lockAvailable = false;
    CameraList cameras;
    std::vector<RemoteTool> remoteTools;
    CardReaderState cardReader;
    bool urlSchemeRegistered = false;
    std::string urlSchemeCommand;
    std::string modelFolder;
    std::optional<int> modelVersion;
};

// Registers the client in `clientFolder` as the handler of vornapp: links, as the client's own
// "/createprotocol" run does. False when nothing could be written.
bool RegisterClient(const std::string& clientFolder);

// Asks the machine. Blocks: a process scan, the camera list, the card library (at most
// Options::cardDeadline), a few small files.
Report Gather(const Options& options);

// What keeps an exam from running here, one sentence each; empty when nothing does.
std::vector<std::string> Blockers(const Report& report);

// One JSON object (the report, "ready" and "blockers") and the text a person reads.
std::string ToJson(const Report& report);
std::string ToText(const Report& report);

// UTF-16 text up to its terminator as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* text);

}  // namespace vorn::check
