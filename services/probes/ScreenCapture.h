#pragma once

#include "platform/ProcessList.h"

#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// One screen recorder or screen-sharing program the page is told about.
struct ScreenCaptureProgram {
    std::string_view name;  // as the page receives it
    // Executable names (compared without regard to case, without a ".exe" ending).
    std::vector<std::string_view> executables;
    // When not empty, the program counts only while one of its arguments contains one of these
    // (a general-purpose tool such as ffmpeg only when it reads the screen).
    std::vector<std::string_view> screenInputs;
};

// The constant list, in the order answers name them.
const std::vector<ScreenCaptureProgram>& ScreenCapturePrograms();

// The names of the listed programs among `processes`, each once, in list order. A process is
// known by its file name, by argv[0], or, for a script interpreter (python, perl, sh, ...), by
// its script. Pure, any thread.
std::vector<std::string> FindScreenCapture(
    const std::vector<vorn::platform::ProcessRecord>& processes);

}  // namespace vorn
