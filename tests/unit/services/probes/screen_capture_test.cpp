#include "services/probes/ScreenCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using vorn::FindScreenCapture;
using vorn::ScreenCaptureProgram;
using vorn::ScreenCapturePrograms;
using vorn::platform::ProcessRecord;

namespace {

ProcessRecord Process(std::string fileName, std::string commandLine, std::string image = {}) {
    return ProcessRecord{777, std::move(fileName), std::move(image), std::move(commandLine)};
}

}  // namespace

TEST(ScreenCapture, EveryListedProgramIsFoundByEachOfItsNames) {
    for (const ScreenCaptureProgram& program : ScreenCapturePrograms()) {
        for (std::string_view executable : program.executables) {
            std::string commandLine(executable);
            if (!program.screenInputs.empty())
                commandLine += " -f " + std::string(program.screenInputs.front()) + " out";
            EXPECT_THAT(FindScreenCapture({Process(std::string(executable), commandLine)}),
                        ElementsAre(std::string(program.name)))
                << executable;
        }
    }
}

TEST(ScreenCapture, GeneralToolsCountOnlyWhileReadingTheScreen) {
    EXPECT_THAT(FindScreenCapture({Process("ffmpeg", "ffmpeg -i talk.mp4 -c:v libx264 out.mp4")}),
                IsEmpty());
    EXPECT_THAT(FindScreenCapture({Process("ffmpeg", "ffmpeg -f v4l2 -i /dev/video0 cam.mkv")}),
                IsEmpty());
    EXPECT_THAT(FindScreenCapture(
                    {Process("ffmpeg", "ffmpeg -video_size 1920x1080 -f x11grab -i :0.0 out.mp4")}),
                ElementsAre("ffmpeg"));
    EXPECT_THAT(FindScreenCapture({Process("ffmpeg",
                                           "ffmpeg -device /dev/dri/card0 -f kmsgrab "
                                           "-i - out.mkv")}),
                ElementsAre("ffmpeg"));
    EXPECT_THAT(
        FindScreenCapture({Process("gst-launch-1.0", "gst-launch-1.0 v4l2src ! autovideosink")}),
        IsEmpty());
    EXPECT_THAT(FindScreenCapture({Process("gst-launch-1.0",
                                           "gst-launch-1.0 ximagesrc ! "
                                           "videoconvert ! x264enc ! filesink")}),
                ElementsAre("GStreamer"));
}

TEST(ScreenCapture, ScriptsWindowsNamesAndLookalikes) {
    // A Python program is known by its script, not by the interpreter.
    EXPECT_THAT(FindScreenCapture({Process("python3.11", "/usr/bin/python3 /usr/bin/kazam")}),
                ElementsAre("Kazam"));
    // Windows programs under Wine keep their ".exe" and may be capitalised.
    EXPECT_THAT(FindScreenCapture({Process("OBS64.exe", "C:\\obs-studio\\bin\\64bit\\obs64.exe")}),
                ElementsAre("OBS"));
    // Names that merely begin like a recorder's are other programs; arguments are data.
    EXPECT_THAT(FindScreenCapture({Process("obsidian", "obsidian"),
                                   Process("vim", "vim notes-about-obs.txt"),
                                   Process("python3", "python3 -m peek_tool")}),
                IsEmpty());
}

TEST(ScreenCapture, EachProgramOnceInListOrder) {
    EXPECT_THAT(FindScreenCapture({Process("peek", "peek"), Process("obs", "obs"),
                                   Process("obs", "obs --minimize-to-tray"),
                                   Process("x11vnc", "x11vnc -display :0")}),
                ElementsAre("OBS", "Peek", "x11vnc"));
}
