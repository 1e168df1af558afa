#include "platform/linux/UrlSchemeRegistration_linux.h"

#include "common/LogSink.h"
#include "platform/RegularFile.h"
#include "platform/SystemUrlSchemes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace vorn::platform {
namespace {

namespace fs = std::filesystem;

// mimeapps.list and desktop entries are a few kilobytes; a larger one is not read.
constexpr std::size_t kMaxListBytes = 1 << 20;

void Warn(const std::string& message) {
    vorn::log::Warning(vorn::log::Area::App, message);
}

std::string_view TrimmedView(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Exec arguments are quoted only where the desktop entry format requires it (a reserved
// character): xdg-open's generic mode, used under plain window managers and by browsers, takes
// the first word of Exec as the program, quotes and all, and cannot start a quoted path. Inside
// double quotes the characters " ` $ \ take a backslash; a literal % is always written %%.
std::string QuoteExecArgument(std::string_view argument) {
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    bool needsQuotes = argument.empty();
    for (const char c : argument)
        needsQuotes = needsQuotes || kReserved.find(c) != std::string_view::npos;
    std::string quoted;
    for (const char c : argument) {
        if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\'))
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    return needsQuotes ? '"' + quoted + '"' : quoted;
}

bool WriteAll(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes over the existing file `path` (a regular file, not a link, the one `was` describes) in
// place: for a file whose folder this user may not create files in.
bool RewriteInPlace(const std::string& path, std::string_view text, const struct stat& was) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Warn("Cannot write " + path + ": " + std::strerror(errno));
        return false;
    }
    struct stat now {};
    bool ok = ::fstat(fd, &now) == 0 && S_ISREG(now.st_mode) && now.st_dev == was.st_dev &&
              now.st_ino == was.st_ino;
    ok = ok && ::ftruncate(fd, 0) == 0 && WriteAll(fd, text);
    const int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        Warn("Cannot write " + path + ": " + std::strerror(error));
    return ok;
}

// Replaces `path` in one step (a reader sees the old file or the new one), creating its folder.
// `keep`: the file being replaced, whose mode (and, where allowed, owner) the new one gets; when
// its folder takes no new file, it is written over in place instead.
bool WriteFile(const std::string& path, std::string_view text, const struct stat* keep = nullptr) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    static std::atomic<unsigned> counter{0};
    const std::string temporary =
        path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    // O_EXCL|O_NOFOLLOW: never writes through something planted under the temporary name.
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (keep && (errno == EACCES || errno == EPERM || errno == EROFS))
            return RewriteInPlace(path, text, *keep);
        Warn("Cannot write " + path + ": " + std::strerror(errno));
        return false;
    }
    bool ok = true;
    if (keep) {
        // A file of another owner (or group) this user may write but not give away is written
        // over in place: replacing it would make it this user's.
        if ((keep->st_uid != ::geteuid() || keep->st_gid != ::getegid()) &&
            ::fchown(fd, keep->st_uid, keep->st_gid) != 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
            return RewriteInPlace(path, text, *keep);
        }
        ok = ::fchmod(fd, keep->st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd, text);
    const int error = ok ? 0 : errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0)
        ok = false;
    if (!ok) {
        Warn("Cannot write " + path + ": " + std::strerror(error ? error : errno));
        ::unlink(temporary.c_str());
    }
    return ok;
}

std::string EnvFolder(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    if (value && value[0] == '/')
        return std::string(TrimmedView(value));
    return fallback;
}

std::vector<std::string> EnvFolderList(const char* name, std::string_view fallback) {
    const char* value = std::getenv(name);
    std::string_view list = value && *value ? std::string_view(value) : fallback;
    std::vector<std::string> folders;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string_view::npos)
            end = list.size();
        const std::string_view folder = list.substr(start, end - start);
        // Relative entries are invalid and ignored, as the base directory rules say.
        if (!folder.empty() && folder.front() == '/')
            folders.emplace_back(folder.back() == '/' ? folder.substr(0, folder.size() - 1)
                                                      : folder);
        start = end + 1;
    }
    return folders;
}

std::string WithoutSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
    return ReadRegularFile(path, kMaxListBytes, LinkPolicy::Follow);
}

// The applications folders in lookup order: the user's first.
std::vector<std::string> ApplicationFolders(const XdgFolders& folders) {
    std::vector<std::string> result;
    if (!folders.dataHome.empty())
        result.push_back(folders.dataHome + "/applications");
    for (const std::string& dir : folders.dataDirs)
        result.push_back(dir + "/applications");
    return result;
}

std::optional<std::string> InstalledEntryPath(const XdgFolders& folders, std::string_view entry) {
    // An entry name is a file name: anything that walks out of the folder is not one.
    if (entry.empty() || entry.find('/') != std::string_view::npos)
        return std::nullopt;
    for (const std::string& folder : ApplicationFolders(folders)) {
        const std::string path = folder + "/" + std::string(entry);
        std::error_code ec;
        if (fs::is_regular_file(path, ec))
            return path;
    }
    return std::nullopt;
}

// The entries a "type=a.desktop;b.desktop;" line names, for `mimeType` in `group` of `text`.
std::vector<std::string> EntriesFor(std::string_view text,
                                    std::string_view group,
                                    std::string_view mimeType) {
    std::vector<std::string> entries;
    bool inGroup = false;
    for (std::string_view line : Lines(text)) {
        line = TrimmedView(line);
        if (line.starts_with('[')) {
            inGroup = line == group;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inGroup || eq == std::string_view::npos || TrimmedView(line.substr(0, eq)) != mimeType)
            continue;
        std::string_view list = line.substr(eq + 1);
        while (!list.empty()) {
            const std::size_t semi = list.find(';');
            const std::string_view entry = TrimmedView(list.substr(0, semi));
            if (!entry.empty())
                entries.emplace_back(entry);
            if (semi == std::string_view::npos)
                break;
            list.remove_prefix(semi + 1);
        }
    }
    return entries;
}

// An executable file at `program`, or in a folder of $PATH when it names no folder.
bool ProgramExists(const std::string& program) {
    if (program.empty())
        return false;
    if (program.find('/') != std::string::npos)
        return ::access(program.c_str(), X_OK) == 0 && fs::is_regular_file(program);
    for (const std::string& folder : EnvFolderList("PATH", "/usr/bin:/bin")) {
        const std::string candidate = folder + "/" + program;
        std::error_code ec;
        if (::access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate, ec))
            return true;
    }
    return false;
}

}  // namespace

XdgFolders XdgFolders::FromEnvironment() {
    XdgFolders folders;
    const char* home = std::getenv("HOME");
    const std::string homeFolder = home && home[0] == '/' ? WithoutSlash(home) : std::string();
    folders.configHome = WithoutSlash(
        EnvFolder("XDG_CONFIG_HOME", homeFolder.empty() ? "" : homeFolder + "/.config"));
    folders.dataHome = WithoutSlash(
        EnvFolder("XDG_DATA_HOME", homeFolder.empty() ? "" : homeFolder + "/.local/share"));
    folders.configDirs = EnvFolderList("XDG_CONFIG_DIRS", "/etc/xdg");
    folders.dataDirs = EnvFolderList("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    return folders;
}

std::string DesktopEntryText(std::string_view scheme, std::string_view executablePath) {
    // Escapes of the desktop entry string type apply to the whole value as well.
    std::string exec;
    for (const char c : QuoteExecArgument(executablePath) + " %u") {
        if (c == '\\')
            exec += '\\';
        exec += c;
    }
    const std::string name(scheme);
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           name +
           " protocol\n"
           "Exec=" +
           exec +
           "\n"
           "NoDisplay=true\n"
           "Terminal=false\n"
           "MimeType=x-scheme-handler/" +
           name + ";\n";
}

std::string MimeAppsWithDefault(std::string_view existing,
                                std::string_view mimeType,
                                std::string_view entry) {
    constexpr std::string_view group = "[Default Applications]";
    const std::string line = std::string(mimeType) + '=' + std::string(entry);
    std::vector<std::string> lines;
    for (std::string_view l : Lines(existing))
        lines.emplace_back(l);
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    const auto joined = [&lines] {
        std::string text;
        for (const std::string& l : lines)
            text += l + '\n';
        return text;
    };

    std::ptrdiff_t groupStart = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (TrimmedView(lines[i]) == group) {
            groupStart = static_cast<std::ptrdiff_t>(i);
            break;
        }
    }
    if (groupStart < 0) {
        if (!lines.empty() && !TrimmedView(lines.back()).empty())
            lines.emplace_back();
        lines.emplace_back(group);
        lines.push_back(line);
        return joined();
    }
    std::size_t insertAt = static_cast<std::size_t>(groupStart) + 1;
    for (std::size_t i = insertAt; i < lines.size(); ++i) {
        const std::string_view trimmed = TrimmedView(lines[i]);
        if (trimmed.starts_with('['))
            break;
        if (!trimmed.empty())
            insertAt = i + 1;
        if (TrimmedView(trimmed.substr(0, trimmed.find('='))) == mimeType) {
            lines[i] = line;
            return joined();
        }
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
    return joined();
}

bool SystemUrlSchemes::SetDefaultHandler(const std::string& scheme,
                                         const std::string& desktopEntry) const {
    const XdgFolders folders = XdgFolders::FromEnvironment();
    if (folders.configHome.empty()) {
        Warn("No user configuration folder; the " + scheme + " scheme is not registered.");
        return false;
    }
    const std::string listPath = folders.configHome + "/mimeapps.list";
    const std::string notRegistered = " The " + scheme + " scheme is not registered.";
    // A list the user keeps elsewhere and links to (dotfiles) is edited where it is: replacing
    // the link would leave the user's own file behind without the change.
    std::string mimeApps = listPath;
    struct stat entry {};
    if (::lstat(listPath.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode)) {
        char* resolved = ::realpath(listPath.c_str(), nullptr);
        if (!resolved) {
            const int error = errno;
            Warn(listPath + " is a link to a file that cannot be reached (" + std::strerror(error) +
                 "); it is left as it is." + notRegistered);
            return false;
        }
        mimeApps = resolved;
        std::free(resolved);
    }
    FileReadError why = FileReadError::None;
    const std::optional<std::string> existing =
        ReadRegularFile(mimeApps, kMaxListBytes, LinkPolicy::Refuse, &why);
    // Writing over a list that could not be read would drop the user's other defaults.
    if (!existing && why != FileReadError::Missing) {
        Warn(DescribeFileReadError(why, mimeApps, kMaxListBytes) + notRegistered);
        return false;
    }
    const std::string text = MimeAppsWithDefault(existing.value_or(std::string()),
                                                 "x-scheme-handler/" + scheme, desktopEntry);
    if (!existing)
        return WriteFile(mimeApps, text);
    struct stat was {};
    if (::lstat(mimeApps.c_str(), &was) != 0 || !S_ISREG(was.st_mode)) {
        Warn(mimeApps + " changed while it was read; it is left as it is." + notRegistered);
        return false;
    }
    // A list nobody may write is the user's decision (an administrator's run could still write
    // it, so the mode decides, not the right to write).
    if ((was.st_mode & 0222) == 0 || ::access(mimeApps.c_str(), W_OK) != 0) {
        Warn(mimeApps + " is read-only; it is left as it is." + notRegistered +
             " Make the file writable, or add the line \"x-scheme-handler/" + scheme + "=" +
             desktopEntry + "\" under [Default Applications] yourself.");
        return false;
    }
    if (text == *existing)
        return true;
    return WriteFile(mimeApps, text, &was);
}

bool SystemUrlSchemes::Register(const std::string& scheme,
                                const std::string& executablePath) const {
    const XdgFolders folders = XdgFolders::FromEnvironment();
    if (folders.dataHome.empty()) {
        Warn("No user applications folder; the " + scheme + " scheme is not registered.");
        return false;
    }
    const std::string entryName = scheme + ".desktop";
    const bool written = WriteFile(folders.dataHome + "/applications/" + entryName,
                                   DesktopEntryText(scheme, executablePath));
    return SetDefaultHandler(scheme, entryName) && written;
}

bool SystemUrlSchemes::DefaultHandlerIsCurrent(const std::string& scheme,
                                               const std::string& desktopEntry) const {
    const XdgFolders folders = XdgFolders::FromEnvironment();
    if (folders.configHome.empty())
        return false;
    // Links are not followed here, though the writing side follows one: a link is left to it.
    const std::optional<std::string> existing =
        ReadRegularFile(folders.configHome + "/mimeapps.list", kMaxListBytes, LinkPolicy::Refuse);
    return existing &&
           MimeAppsWithDefault(*existing, "x-scheme-handler/" + scheme, desktopEntry) == *existing;
}

bool SystemUrlSchemes::RegistrationIsCurrent(const std::string& scheme,
                                             const std::string& executablePath) const {
    const XdgFolders folders = XdgFolders::FromEnvironment();
    if (folders.dataHome.empty())
        return false;
    const std::string entryName = scheme + ".desktop";
    const std::optional<std::string> entry = ReadRegularFile(
        folders.dataHome + "/applications/" + entryName, kMaxListBytes, LinkPolicy::Refuse);
    return entry && *entry == DesktopEntryText(scheme, executablePath) &&
           DefaultHandlerIsCurrent(scheme, entryName);
}

std::string FindSystemDesktopEntry(const std::string& entryName) {
    const XdgFolders folders = XdgFolders::FromEnvironment();
    const std::string& user = folders.dataHome;
    std::error_code ec;
    const fs::path userFolder = user.empty() ? fs::path() : fs::weakly_canonical(user, ec);
    for (const std::string& dir : folders.dataDirs) {
        // A data folder that is the user's own (listed again in $XDG_DATA_DIRS) does not count.
        if (!user.empty() && fs::weakly_canonical(dir, ec) == userFolder)
            continue;
        const std::string path = dir + "/applications/" + entryName;
        if (entryName.find('/') == std::string::npos && fs::is_regular_file(path, ec))
            return path;
    }
    return {};
}

bool SystemUrlSchemes::HasSystemHandlerEntry(const std::string& entryName) const {
    return !FindSystemDesktopEntry(entryName).empty();
}

std::optional<std::string> DefaultDesktopEntry(const XdgFolders& folders,
                                               std::string_view mimeType) {
    std::vector<std::string> lists;
    if (!folders.configHome.empty())
        lists.push_back(folders.configHome + "/mimeapps.list");
    for (const std::string& dir : folders.configDirs)
        lists.push_back(dir + "/mimeapps.list");
    for (const std::string& folder : ApplicationFolders(folders))
        lists.push_back(folder + "/mimeapps.list");
    for (const std::string& list : lists) {
        const std::optional<std::string> text = ReadSmallFile(list);
        if (!text)
            continue;
        for (const std::string& entry : EntriesFor(*text, "[Default Applications]", mimeType)) {
            if (InstalledEntryPath(folders, entry))
                return entry;
        }
    }
    for (const std::string& folder : ApplicationFolders(folders)) {
        const std::optional<std::string> text = ReadSmallFile(folder + "/mimeinfo.cache");
        if (!text)
            continue;
        for (const std::string& entry : EntriesFor(*text, "[MIME Cache]", mimeType)) {
            if (InstalledEntryPath(folders, entry))
                return entry;
        }
    }
    return std::nullopt;
}

std::string DesktopEntryExec(std::string_view entryText) {
    bool inGroup = false;
    for (std::string_view line : Lines(entryText)) {
        line = TrimmedView(line);
        if (line.starts_with('[')) {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inGroup || eq == std::string_view::npos || TrimmedView(line.substr(0, eq)) != "Exec")
            continue;
        const std::string_view value = TrimmedView(line.substr(eq + 1));
        std::string exec;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] != '\\' || i + 1 == value.size()) {
                exec += value[i];
                continue;
            }
            switch (const char next = value[++i]) {
                case 's':
                    exec += ' ';
                    break;
                case 'n':
                    exec += '\n';
                    break;
                case 't':
                    exec += '\t';
                    break;
                case 'r':
                    exec += '\r';
                    break;
                default:
                    exec += next;
                    break;
            }
        }
        return exec;
    }
    return {};
}

std::string ExecProgram(std::string_view exec) {
    exec = TrimmedView(exec);
    if (exec.empty() || exec.front() != '"')
        return std::string(exec.substr(0, exec.find_first_of(" \t")));
    std::string program;
    for (std::size_t i = 1; i < exec.size(); ++i) {
        if (exec[i] == '"')
            return program;
        if (exec[i] == '\\' && i + 1 < exec.size())
            ++i;
        program += exec[i];
    }
    return {};  // an unclosed quote starts nothing
}

UrlSchemeHandler SystemUrlSchemes::FindHandler(const std::string& scheme) const {
    const XdgFolders folders = XdgFolders::FromEnvironment();
    const std::optional<std::string> entry =
        DefaultDesktopEntry(folders, "x-scheme-handler/" + scheme);
    if (!entry)
        return {};
    const std::optional<std::string> path = InstalledEntryPath(folders, *entry);
    const std::optional<std::string> text = path ? ReadSmallFile(*path) : std::nullopt;
    if (!text)
        return {};
    UrlSchemeHandler handler;
    handler.command = DesktopEntryExec(*text);
    std::string program = ExecProgram(handler.command);
    // "%%" in an Exec value is a literal percent sign.
    for (std::size_t pos = 0; (pos = program.find("%%", pos)) != std::string::npos; ++pos)
        program.erase(pos, 1);
    handler.program = program;
    handler.programFound = ProgramExists(program);
    return handler;
}

std::unique_ptr<IUrlSchemeRegistration> CreateUrlSchemeRegistration() {
    return std::make_unique<SystemUrlSchemes>();
}

}  // namespace vorn::platform
