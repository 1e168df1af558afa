#pragma once

// Processes and files for the Windows tests: started, awaited and read through the Windows API
// itself, so the tests see what any other program on the machine would.
#include <windows.h>

#include <functional>
#include <string>

namespace wintest {

// The folder of the running test executable, with a trailing backslash; the helper programs
// are built beside it.
std::wstring ExeFolder();

// A new empty folder under the temporary folder, removed with its files by the destructor.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& leaf);
    ~TempFolder();
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

// A started process; terminated (if still running) and closed by the destructor.
class Process {
public:
    Process(const std::wstring& exe, const std::wstring& arguments);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    bool started() const { return info_.hProcess != nullptr; }
    DWORD pid() const { return info_.dwProcessId; }
    // The exit code, or STILL_ACTIVE when it did not end within `ms`.
    DWORD Wait(DWORD ms);

private:
    PROCESS_INFORMATION info_{};
};

// The exit code RunAndCapture gives for a program that could not be started at all.
constexpr DWORD kNotStarted = 0xFFFFFFFF;

// Runs a command line to its end and returns what it wrote to standard output (as bytes; the
// system tools write their console code page, ASCII for what these tests look at). A program
// that could not be started gives kNotStarted and a line saying why.
std::string RunAndCapture(const std::wstring& commandLine, DWORD* exitCode = nullptr);

// Makes `link` a junction (a mount-point reparse point) to the folder `target`, as mklink /J
// does; false when the system will not.
bool MakeJunction(const std::wstring& link, const std::wstring& target);

// Starts the host system's /bin/<tool> in `folder` (Wine starts host programs) and waits up to
// five seconds for `done`; false when there is no such tool (Windows) or it never got there.
// Wine gives no handle to wait on for a host program, so its work is looked at instead.
bool RunHostTool(const std::wstring& folder,
                 const std::wstring& tool,
                 const std::wstring& arguments,
                 const std::function<bool()>& done);

}  // namespace wintest
