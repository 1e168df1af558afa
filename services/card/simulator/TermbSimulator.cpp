// A stand-in for the vendor's card reader library, so that the whole reading path (loading,
// port search, texts, photo) runs for real in tests and in the demo without a reader. It
// behaves as a description file says (see SimDescription.h), reloaded whenever the file
// changes so a running client can have its card taken away or swapped.

#include "SimDescription.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

#define TERMB_API extern "C" __attribute__((visibility("default")))

TERMB_API int CVR_InitComm(int port);

namespace vorn::termbsim {
namespace {

struct State {
    std::mutex mutex;
    bool loaded = false;
    std::string path;
    bool named = false;  // the path came from the environment
    bool exists = false;
    timespec mtime{};
    off_t size = -1;
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

std::string LibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&CVR_InitComm), &info) && info.dli_fname) {
        std::string file = info.dli_fname;
        const auto slash = file.rfind('/');
        return slash == std::string::npos ? std::string("./") : file.substr(0, slash + 1);
    }
    return "./";
}

void State::Refresh() {
    if (path.empty()) {
        const char* env = std::getenv("VORN_TERMB_SIM");
        named = env && *env;
        path = named ? std::string(env) : LibraryFolder() + "termb-sim.ini";
    }
    struct stat st {};
    const bool nowExists = stat(path.c_str(), &st) == 0;
    if (loaded && nowExists == exists &&
        (!nowExists || (st.st_mtim.tv_sec == mtime.tv_sec && st.st_mtim.tv_nsec == mtime.tv_nsec &&
                        st.st_size == size)))
        return;
    loaded = true;
    exists = nowExists;
    mtime = nowExists ? st.st_mtim : timespec{};
    size = nowExists ? st.st_size : -1;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        desc = SimDescription::Defaults();
        if (named) {
            // A description was asked for and cannot be read: rather no reader than a card
            // the test did not expect.
            desc.ports.clear();
            std::fprintf(stderr, "termb simulator: cannot read %s, simulating no reader\n",
                         path.c_str());
        }
    } else {
        const std::string text{std::istreambuf_iterator<char>(file), {}};
        const auto slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
        std::string error;
        if (!SimDescription::Parse(text, folder, desc, error))
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
