#include "services/probes/ScreenCapture.h"

#include <algorithm>
#include <cctype>

namespace vorn {

namespace {

using vorn::platform::ProcessRecord;

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// "OBS64.exe" and "obs64" are the same program.
std::string ProgramKey(std::string_view name) {
    std::string key = Lower(vorn::platform::PathBaseName(name, "/\\"));
    if (key.ends_with(".exe"))
        key.resize(key.size() - 4);
    return key;
}

bool IsInterpreter(std::string_view key) {
    for (std::string_view name : {"python", "perl", "sh", "bash", "dash", "ruby", "gjs", "node"}) {
        if (key.starts_with(name) &&
            key.find_first_not_of("0123456789.", name.size()) == std::string::npos)
            return true;
    }
    return false;
}

// The names a process goes by: its file name, argv[0], and a script's name after its
// interpreter (the first argument that is not an option).
std::vector<std::string> NamesOf(const ProcessRecord& process,
                                 const std::vector<std::string_view>& words) {
    std::vector<std::string> names{ProgramKey(process.fileName)};
    if (!words.empty())
        names.push_back(ProgramKey(words[0]));
    const bool interpreted = std::any_of(names.begin(), names.end(), IsInterpreter);
    if (interpreted) {
        for (size_t i = 1; i < words.size(); ++i) {
            if (!words[i].starts_with('-')) {
                names.push_back(ProgramKey(words[i]));
                break;
            }
        }
    }
    return names;
}

bool ReadsScreen(const ScreenCaptureProgram& program, const std::vector<std::string_view>& words) {
    if (program.screenInputs.empty())
        return true;
    for (size_t i = 1; i < words.size(); ++i) {
        for (std::string_view input : program.screenInputs) {
            if (words[i].find(input) != std::string_view::npos)
                return true;
        }
    }
    return false;
}

}  // namespace

const std::vector<ScreenCaptureProgram>& ScreenCapturePrograms() {
    static const std::vector<ScreenCaptureProgram> programs = {
        {"OBS", {"obs", "obs64", "obs32", "obs-studio"}, {}},
        {"SimpleScreenRecorder", {"simplescreenrecorder"}, {}},
        {"Kazam", {"kazam"}, {}},
        {"vokoscreen", {"vokoscreen", "vokoscreenng"}, {}},
        {"Peek", {"peek"}, {}},
        {"recordMyDesktop", {"recordmydesktop", "gtk-recordmydesktop", "qt-recordmydesktop"}, {}},
        {"Green Recorder", {"green-recorder"}, {}},
        {"Kooha", {"kooha"}, {}},
        {"Byzanz", {"byzanz-record"}, {}},
        {"wf-recorder", {"wf-recorder"}, {}},
        {"wl-screenrec", {"wl-screenrec"}, {}},
        {"ShareX", {"sharex"}, {}},
        {"Bandicam", {"bdcam", "bandicam"}, {}},
        {"Camtasia", {"camtasiastudio", "camrecorder"}, {}},
        {"ffmpeg", {"ffmpeg", "avconv"}, {"x11grab", "kmsgrab", "gdigrab", "ddagrab"}},
        {"GStreamer",
         {"gst-launch-1.0", "gst-launch-0.10", "gst-launch"},
         {"ximagesrc", "d3d11screencapturesrc", "dx9screencapsrc", "gdiscreencapsrc"}},
        {"VLC", {"vlc", "cvlc"}, {"screen://"}},
        {"x11vnc", {"x11vnc"}, {}},
        {"x0vncserver", {"x0vncserver"}, {}},
        {"krfb", {"krfb"}, {}},
        {"vino-server", {"vino-server"}, {}},
        {"wayvnc", {"wayvnc"}, {}},
    };
    return programs;
}

std::vector<std::string> FindScreenCapture(const std::vector<ProcessRecord>& processes) {
    const std::vector<ScreenCaptureProgram>& programs = ScreenCapturePrograms();
    std::vector<bool> found(programs.size(), false);
    for (const ProcessRecord& process : processes) {
        const std::vector<std::string_view> words =
            vorn::platform::CommandLineWords(process.commandLine);
        const std::vector<std::string> names = NamesOf(process, words);
        for (size_t i = 0; i < programs.size(); ++i) {
            if (found[i])
                continue;
            const bool named = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
                return std::find(programs[i].executables.begin(), programs[i].executables.end(),
                                 n) != programs[i].executables.end();
            });
            if (named && ReadsScreen(programs[i], words))
                found[i] = true;
        }
    }
    std::vector<std::string> result;
    for (size_t i = 0; i < programs.size(); ++i) {
        if (found[i])
            result.emplace_back(programs[i].name);
    }
    return result;
}

}  // namespace vorn
