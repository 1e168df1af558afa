// A stand-in for the vendor's card reader library, so that the whole reading path (loading,
// port search, texts, photo) runs for real in tests and in the demo without a reader. It
// behaves as a description file says (see SimDescription.h), reloaded whenever the file
// changes so a running client can have its card taken away or swapped.

#include "SimDescription.h"

#include "platform/ModuleFile.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

// The vendor's Windows library exports its entry points as __stdcall (the only convention of
// 64-bit Windows, and what 32-bit callers of the vendor's library expect). A build that names its
// exports in a module-definition file (the 32-bit one, decorated as Microsoft's tools export them)
// exports nothing else.
#if defined(_WIN32) && defined(TERMB_EXPORTS_FROM_DEF)
#define TERMB_API extern "C" __stdcall
#elif defined(_WIN32)
#define TERMB_API extern "C" __declspec(dllexport) __stdcall
#else
#define TERMB_API extern "C" __attribute__((visibility("default")))
#endif

TERMB_API int CVR_InitComm(int port);

namespace vorn::termbsim {
namespace {

struct State {
    std::mutex mutex;
    bool loaded = false;
    std::filesystem::path path;
    bool named = false;  // the path came from the environment
    bool exists = false;
    std::filesystem::file_time_type mtime{};
    std::uintmax_t size = 0;
    SimDescription desc;
    bool open = false;
    bool authenticated = false;
    bool contentRead = false;

    void Refresh();
    void Log(const std::string& line, bool concurrent);
};

// Never destroyed: a client's worker may still be inside a call while the process exits.
State& TheState() {
    static State* state = new State;
    return *state;
}

std::atomic<int> g_inside{0};

std::filesystem::path LibraryFolder() {
    const std::string file = platform::ModuleFileOf(reinterpret_cast<const void*>(&CVR_InitComm));
    if (file.empty())
        return ".";
    // UTF-8 whatever the system's narrow code page (on Windows the ANSI one).
    return std::filesystem::path(std::u8string(file.begin(), file.end())).parent_path();
}

// The description named in the environment, as the system hands it over (UTF-16 on Windows).
std::filesystem::path NamedDescription() {
#ifdef _WIN32
    const wchar_t* env = _wgetenv(L"VORN_TERMB_SIM");
#else
    const char* env = std::getenv("VORN_TERMB_SIM");
#endif
    return env && *env ? std::filesystem::path(env) : std::filesystem::path();
}

void State::Refresh() {
    if (path.empty()) {
        path = NamedDescription();
        named = !path.empty();
        if (!named)
            path = LibraryFolder() / "termb-sim.ini";
    }
    // A file that vanishes between these calls reads as changed, and is read again next time.
    std::error_code ignored;
    const bool nowExists = std::filesystem::is_regular_file(path, ignored);
    const auto nowTime = nowExists ? std::filesystem::last_write_time(path, ignored)
                                   : std::filesystem::file_time_type{};
    const std::uintmax_t nowSize = nowExists ? std::filesystem::file_size(path, ignored) : 0;
    if (loaded && nowExists == exists && nowTime == mtime && nowSize == size)
        return;
    loaded = true;
    exists = nowExists;
    mtime = nowTime;
    size = nowSize;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        desc = SimDescription::Defaults();
        if (named) {
            // A description was asked for and cannot be read: rather no reader than a card
            // the test did not expect.
            desc.ports.clear();
            std::fprintf(stderr, "termb simulator: cannot read %s, simulating no reader\n",
                         path.string().c_str());
        }
    } else {
        const std::string text{std::istreambuf_iterator<char>(file), {}};
        const std::string folder = (path.parent_path() / "").string();
        std::string error;
        if (!SimDescription::Parse(text, path.has_parent_path() ? folder : "", desc, error))
            std::fprintf(stderr, "termb simulator: %s\n", error.c_str());
    }
    if (const char* log = std::getenv("VORN_TERMB_SIM_LOG"); log && *log)
        desc.logPath = log;
    open = authenticated = contentRead = false;
}

void State::Log(const std::string& line, bool concurrent) {
    if (desc.logPath.empty())
        return;
    if (FILE* f = std::fopen(desc.logPath.c_str(), "a")) {
        std::fprintf(f, "%s%s\n", concurrent ? "CONCURRENT " : "", line.c_str());
        std::fclose(f);
    }
}

// One entry point's stay in the library: notices overlapping calls (a client must never make
// them) and sleeps the configured delay with the state unlocked.
class Call {
public:
    Call() : m_concurrent(g_inside.fetch_add(1) > 0), m_lock(TheState().mutex) {
        TheState().Refresh();
    }
    ~Call() {
        const int delay = TheState().desc.delayMs;
        bool hang = TheState().desc.hang;
        m_lock.unlock();
        if (delay > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        // A hung port: the call returns only once the description has been changed.
        while (hang) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::lock_guard lock(TheState().mutex);
            TheState().Refresh();
            hang = TheState().desc.hang;
        }
        g_inside.fetch_sub(1);
    }
    State& state() { return TheState(); }
    int Done(const std::string& call, int result) {
        TheState().Log(call + " = " + std::to_string(result), m_concurrent);
        return result;
    }

private:
    bool m_concurrent;
    std::unique_lock<std::mutex> m_lock;
};

// Copies as much of `utf8` as the caller's buffer holds; the terminator only when it fits,
// as careless vendor code does.
int WriteText(Call& call, const char* name, const std::string& utf8, char16_t* text, int* length) {
    const std::string entry =
        std::string(name) + "(length=" + (length ? std::to_string(*length) : std::string("null")) +
        ")";
    if (!text || !length || *length < 2 || !call.state().contentRead)
        return call.Done(entry, 0);
    const size_t capacity = static_cast<size_t>(*length) / 2;
    const std::u16string value = Utf8ToUtf16(utf8);
    const size_t n = std::min(value.size(), capacity);
    std::copy_n(value.data(), n, text);
    if (n < capacity)
        text[n] = u'\0';
    *length = static_cast<int>(n * 2);
    return call.Done(entry, 1);
}

}  // namespace
}  // namespace vorn::termbsim

using vorn::termbsim::Call;
using vorn::termbsim::WriteText;

TERMB_API int CVR_InitComm(int port) {
    Call call;
    auto& s = call.state();
    s.open = s.desc.ports.count(port) > 0;
    s.authenticated = s.contentRead = false;
    return call.Done("CVR_InitComm(" + std::to_string(port) + ")", s.open ? 1 : 0);
}

TERMB_API int CVR_CloseComm() {
    Call call;
    auto& s = call.state();
    s.open = s.authenticated = s.contentRead = false;
    return call.Done("CVR_CloseComm()", 1);
}

TERMB_API int CVR_Authenticate() {
    Call call;
    auto& s = call.state();
    s.authenticated = s.open && s.desc.card && s.desc.authenticate;
    return call.Done("CVR_Authenticate()", s.authenticated ? 1 : 0);
}

TERMB_API int CVR_Read_FPContent() {
    Call call;
    auto& s = call.state();
    s.contentRead = s.open && s.authenticated && s.desc.read;
    return call.Done("CVR_Read_FPContent()", s.contentRead ? 1 : 0);
}

TERMB_API int CVR_GetSAMIDU(char16_t* text) {
    Call call;
    auto& s = call.state();
    if (!text || !s.open)
        return call.Done("CVR_GetSAMIDU()", 0);
    constexpr size_t kUnits = 256;
    const std::u16string value = vorn::termbsim::Utf8ToUtf16(s.desc.samid);
    const size_t n = std::min(value.size(), kUnits);
    std::copy_n(value.data(), n, text);
    if (n < kUnits)
        text[n] = u'\0';
    return call.Done("CVR_GetSAMIDU()", 1);
}

#define TERMB_TEXT(entry, member)                                               \
    TERMB_API int entry(char16_t* text, int* length) {                          \
        Call call;                                                              \
        return WriteText(call, #entry, call.state().desc.member, text, length); \
    }

TERMB_TEXT(GetPeopleNameU, name)
TERMB_TEXT(GetPeopleSexU, sex)
TERMB_TEXT(GetPeopleNationU, nation)
TERMB_TEXT(GetPeopleBirthdayU, birthday)
TERMB_TEXT(GetPeopleAddressU, address)
TERMB_TEXT(GetPeopleIDCodeU, idcode)
TERMB_TEXT(GetDepartmentU, department)
TERMB_TEXT(GetStartDateU, startdate)
TERMB_TEXT(GetEndDateU, enddate)
TERMB_TEXT(GetNationCodeU, nationcode)

TERMB_API int GetBMPData(unsigned char* data, int* length) {
    Call call;
    auto& s = call.state();
    const std::string entry =
        "GetBMPData(length=" + (length ? std::to_string(*length) : std::string("null")) + ")";
    if (!data || !length || !s.contentRead)
        return call.Done(entry, 0);
    const auto& photo = s.desc.photo;
    const size_t n = std::min(photo.size(), static_cast<size_t>(std::max(*length, 0)));
    if (n > 0)
        std::memcpy(data, photo.data(), n);
    *length = s.desc.hasPhotoLength ? s.desc.photoLength : static_cast<int>(photo.size());
    return call.Done(entry, 1);
}
