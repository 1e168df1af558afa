#include "models/update/ModelInstaller.h"

#include "common/Logging.h"
#include "models/archive/Archive.h"
#include "models/archive/ArchiveFolders.h"
#include "platform/FolderTree.h"

#include <QString>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace vorn {
namespace {

constexpr char kVersionFile[] = "ver.ini";
constexpr unsigned kMaxThreads = 8;

QString Show(const fs::path& path) {
    return QString::fromStdString(path.string());
}

QString Show(const std::u16string& name) {
    return QString::fromStdU16String(name);
}

// Read-only folders from an archive would otherwise stop their contents from being removed.
bool RemoveTree(const fs::path& root) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(root, ec)))
        return true;
    fs::remove_all(root, ec);
    if (!ec)
        return true;
    if (fs::is_directory(fs::symlink_status(root, ec))) {
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(root, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    ec.clear();
    fs::remove_all(root, ec);
    return !ec;
}

std::optional<uint64_t> SystemFreeSpace(const fs::path& folder) {
    return platform::FreeSpace(folder.string());
}

// Each file arrives whole: a rename within one file system, else a copy beside the target
// renamed over it (the model folder may be a link to another file system).
bool MoveFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec)
        return true;
    if (ec != std::errc::cross_device_link) {
        qCWarning(lcModels) << "cannot move" << Show(from) << "to" << Show(to) << ":"
                            << ec.message().c_str();
        return false;
    }
    fs::path part = to;
    part += ".vorn-part";
    fs::remove(part, ec);
    if (!fs::copy_file(from, part, fs::copy_options::overwrite_existing, ec) || ec) {
        fs::remove(part, ec);
        return false;
    }
    fs::rename(part, to, ec);
    if (ec) {
        fs::remove(part, ec);
        return false;
    }
    return true;
}

// What a folder holds, by name, with each child's type as its directory entry gives it (no
// stat per child; a link is a link). Listed before anything in it moves.
std::map<std::string, fs::file_type> List(const fs::path& folder, std::error_code& ec) {
    std::map<std::string, fs::file_type> children;
    for (const auto& [name, kind] : platform::ListFolder(folder.string(), ec)) {
        children.emplace(name, kind == platform::EntryKind::Folder    ? fs::file_type::directory
                               : kind == platform::EntryKind::Regular ? fs::file_type::regular
                               : kind == platform::EntryKind::Link    ? fs::file_type::symlink
                                                                      : fs::file_type::unknown);
    }
    return children;
}

// A conflict (a file or link of the model folder where a folder goes, a folder where a file
// goes) found before anything moves, so the usual failure leaves the model folder as it was.
bool CanReceive(const fs::path& staging, const fs::path& models) {
    std::error_code ec;
    const auto incoming = List(staging, ec);
    const auto present = List(models, ec);
    if (ec)
        return false;
    for (const auto& [name, type] : incoming) {
        const auto there = present.find(name);
        if (there == present.end())
            continue;
        const bool folder = type == fs::file_type::directory;
        const bool folderThere = there->second == fs::file_type::directory;
        if (folder ? !folderThere || !CanReceive(staging / name, models / name) : folderThere) {
            qCWarning(lcModels) << "a file, folder or link of the model folder is in the way of"
                                << Show(models / name);
            return false;
        }
    }
    return true;
}

// Moves what `staging` holds into `models`: a folder the model folder lacks goes over in one
// rename, one it has is merged file by file. `skip` (at the top only) stays behind.
bool MoveTree(const fs::path& staging, const fs::path& models, const std::string& skip) {
    std::error_code ec;
    const auto incoming = List(staging, ec);
    const auto present = List(models, ec);
    if (ec) {
        qCWarning(lcModels) << "cannot list" << Show(staging) << "or" << Show(models) << ":"
                            << ec.message().c_str();
        return false;
    }
    for (const auto& [name, type] : incoming) {
        if (name == skip)
            continue;
        const fs::path from = staging / name, to = models / name;
        if (type != fs::file_type::directory) {
            if (!MoveFile(from, to))
                return false;
            continue;
        }
        if (present.find(name) == present.end()) {
            fs::rename(from, to, ec);
            if (!ec)
                continue;
            if (ec != std::errc::cross_device_link || !fs::create_directory(to, ec)) {
                qCWarning(lcModels) << "cannot move the folder" << Show(to);
                return false;
            }
        }
        if (!MoveTree(from, to, {}))
            return false;
    }
    return true;
}

using platform::NativeHandle;
using platform::OsHandle;

// As List, for an open folder (which stays open); a link counts as a file.
std::map<std::string, fs::file_type> ListAt(NativeHandle folder, std::error_code& ec) {
    std::map<std::string, fs::file_type> children;
    for (const auto& [name, kind] : platform::ListFolder(folder, ec)) {
        children.emplace(name, kind == platform::EntryKind::Folder ? fs::file_type::directory
                                                                   : fs::file_type::regular);
    }
    return children;
}

enum class Carry { Done, Conflict, CannotLink };

// Gives the staged folder everything of the model folder that the archive does not replace,
// as hard links (no data copied, the model folder itself untouched) and folders made anew, so
// that the staged folder is the whole new model folder. A link of the model folder is linked
// as the link it is, never followed. Folders keep their permissions. Conflict: a file, link or
// folder of the model folder is in the way of what the archive holds (the install is refused).
Carry CarryOver(NativeHandle modelsFd, NativeHandle stagingFd, const fs::path& where) {
    std::error_code ec;
    const auto present = ListAt(modelsFd, ec);
    const auto incoming = ListAt(stagingFd, ec);
    if (ec) {
        qCDebug(lcModels) << "cannot list" << Show(where) << ":" << ec.message().c_str();
        return Carry::CannotLink;
    }
    for (const auto& [name, type] : present) {
        const auto staged = incoming.find(name);
        const bool folder = type == fs::file_type::directory;
        if (staged != incoming.end() && folder != (staged->second == fs::file_type::directory)) {
            qCWarning(lcModels) << "a file, folder or link of the model folder is in the way of"
                                << Show(where / name);
            return Carry::Conflict;
        }
        if (!folder) {
            if (staged == incoming.end() && !platform::HardLink(modelsFd, stagingFd, name)) {
                qCDebug(lcModels) << "cannot link" << Show(where / name) << ":"
                                  << platform::LastFailureText().c_str();
                return Carry::CannotLink;
            }
            continue;
        }
        platform::FileFacts facts;
        const OsHandle from = platform::OpenFolderBelow(modelsFd, name);
        if (!from.Valid() || !platform::LookAt(from.Get(), &facts) ||
            (staged == incoming.end() && !platform::MakePrivateFolder(stagingFd, name)))
            return Carry::CannotLink;
        const OsHandle to = platform::OpenFolderBelow(stagingFd, name);
        if (!to.Valid() || !platform::SetPermissions(to.Get(), facts.permissions))
            return Carry::CannotLink;
        const Carry inner = CarryOver(from.Get(), to.Get(), where / name);
        if (inner != Carry::Done)
            return inner;
    }
    return Carry::Done;
}

// A name kept for comparing entries: "/" separators, no empty or "." steps.
std::u16string Key(const std::u16string& name) {
    std::u16string key;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of(u"\\/", start);
        if (end == std::u16string::npos)
            end = name.size();
        const std::u16string_view step(name.data() + start, end - start);
        if (!step.empty() && step != u".") {
            if (!key.empty())
                key.push_back(u'/');
            key.append(step);
        }
        start = end + 1;
    }
    return key;
}

// Why a name that the archive layer accepted still cannot be installed, or null.
const char* RefusedName(const ArchiveItem& item) {
    const std::u16string& name = item.name;
    if (name.empty() || name.front() == u'/' || name.front() == u'\\' ||
        (name.size() >= 2 && name[1] == u':'))
        return "it is empty or absolute";
    if (item.attributes & 0x10)
        return nullptr;
    const size_t last = name.find_last_of(u"\\/");
    const std::u16string_view file = last == std::u16string::npos
                                         ? std::u16string_view(name)
                                         : std::u16string_view(name).substr(last + 1);
    if (file.empty() || file == u".")
        return "it names no file";
    return nullptr;
}

struct Planned {
    int index = 0;
    uint64_t size = 0;
    std::u16string name;
};

// What the extraction will write: the folders, and the files each under the name it ends up
// with; `skipped` entries are left out with a warning.
struct Plan {
    std::vector<Planned> folders;
    std::vector<Planned> files;
    int skipped = 0;
};

// Decides every entry before anything is written; nothing when the archive is refused. A later
// entry of the same name replaces an earlier one, as extracting them in order would.
std::optional<Plan> PlanEntries(const ArchiveSurvey& survey) {
    Plan plan;
    std::map<std::u16string, size_t> fileByKey;
    for (size_t i = 0; i < survey.entries.size(); ++i) {
        const ArchiveEntrySummary& e = survey.entries[i];
        const char* refusal = nullptr;
        if (e.result == ZR_UNSAFE_NAME || e.result == ZR_TOO_LONG)
            refusal = "its name is unsafe or too long";
        else if (e.result == ZR_CORRUPT && e.method != 0 && e.method != 8)
            refusal = "it is compressed with an unsupported method";
        else if (e.result != ZR_OK) {
            qCWarning(lcModels) << "model archive refused: entry" << i << "is damaged (code"
                                << Qt::hex << e.result << Qt::dec << ")";
            return std::nullopt;
        } else if (e.encrypted)
            refusal = "it is encrypted";
        else
            refusal = RefusedName(e.item);
        if (refusal) {
            qCWarning(lcModels) << "model archive: entry" << i << Show(e.item.name)
                                << "left out because" << refusal;
            ++plan.skipped;
            continue;
        }
        Planned p{static_cast<int>(i), e.uncompressedSize, e.item.name};
        if (e.item.attributes & 0x10) {
            plan.folders.push_back(std::move(p));
            continue;
        }
        const auto [at, fresh] = fileByKey.emplace(Key(p.name), plan.files.size());
        if (fresh) {
            plan.files.push_back(std::move(p));
        } else {
            plan.files[at->second] = std::move(p);
        }
    }
    return plan;
}

// Whether `total` unpacked bytes stay within the limit and leave the margin free on the disk
// of `staging`.
bool RoomFor(uint64_t total, const InstallLimits& limits, const fs::path& staging) {
    if (total > limits.maxUnpackedBytes) {
        qCWarning(lcModels) << "model archive refused: it unpacks to" << total
                            << "bytes, more than the limit of" << limits.maxUnpackedBytes;
        return false;
    }
    const std::optional<uint64_t> available =
        limits.freeSpace ? limits.freeSpace(staging) : SystemFreeSpace(staging);
    if (available &&
        (*available < limits.freeSpaceMargin || total > *available - limits.freeSpaceMargin)) {
        qCWarning(lcModels) << "model archive refused: it unpacks to" << total << "bytes and"
                            << *available << "bytes are free; at least" << limits.freeSpaceMargin
                            << "must stay free";
        return false;
    }
    return true;
}

bool ExtractFolders(ArchiveHandle handle, const std::vector<Planned>& folders) {
    for (const Planned& p : folders) {
        if (const uint32_t rc = ArchiveExtractItem(handle, p.index, p.name); rc != ZR_OK) {
            qCWarning(lcModels) << "extraction: folder" << Show(p.name) << "failed with code"
                                << Qt::hex << rc;
            return false;
        }
    }
    return true;
}

// One thread per core unless `configured` says otherwise, at most kMaxThreads and no more than
// there are files.
unsigned ThreadsFor(size_t files, unsigned configured) {
    unsigned threads = configured ? configured : std::thread::hardware_concurrency();
    threads = std::clamp<unsigned>(threads, 1, kMaxThreads);
    return static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(files, 1)));
}

// Extracts `files` on one thread per handle, the first handle's on this thread. `previous`:
// the model folder, whose unchanged files are linked instead of written again (-1: none).
// False when an entry fails on the disk or `abort` is set; entries whose path only the staging
// folder makes too long are left out and counted in `skippedLate`.
bool ExtractFiles(const std::vector<ArchiveHandle>& handles,
                  const std::vector<Planned>& files,
                  int previous,
                  const std::atomic<bool>* abort,
                  int* skippedLate) {
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::atomic<int> late{0};
    auto work = [&](ArchiveHandle h) {
        for (;;) {
            if (failed.load(std::memory_order_relaxed) || (abort && abort->load()))
                return;
            const size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= files.size())
                return;
            const Planned& p = files[i];
            const uint32_t rc = ArchiveExtractItem(h, p.index, p.name, previous);
            if (rc == ZR_OK)
                continue;
            // Only the staging folder's own, longer path can make a name too long here.
            if (rc == ZR_TOO_LONG) {
                qCWarning(lcModels) << "model archive: entry" << p.index << Show(p.name)
                                    << "left out because its path is too long";
                late.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            qCWarning(lcModels) << "extraction: entry" << p.index << Show(p.name)
                                << "failed with code" << Qt::hex << rc;
            failed = true;
        }
    };
    std::vector<std::thread> workers;
    for (size_t t = 1; t < handles.size(); ++t)
        workers.emplace_back(work, handles[t]);
    work(handles.front());
    for (std::thread& w : workers)
        w.join();
    *skippedLate = late;
    return !(abort && abort->load()) && !failed;
}

}  // namespace

ModelInstaller::ModelInstaller(fs::path modelFolder, fs::path stagingFolder, InstallLimits limits)
    : m_models(std::move(modelFolder)),
      m_staging(std::move(stagingFolder)),
      m_limits(std::move(limits)) {}

bool ModelInstaller::CleanStaging() const {
    if (!fs::exists(fs::symlink_status(m_staging)))
        return true;
    qCDebug(lcModels) << "removing the staging folder (a replaced model folder or what a killed "
                         "run left)";
    return RemoveTree(m_staging);
}

bool ModelInstaller::Install(const fs::path& archive, const std::atomic<bool>* abort) const {
    qCDebug(lcModels) << "installing" << Show(archive);
    if (!CleanStaging()) {
        qCWarning(lcModels) << "cannot clear the staging folder" << Show(m_staging);
        return false;
    }
    std::error_code ec;
    if (!fs::create_directory(m_staging, ec) || ec) {
        qCWarning(lcModels) << "cannot create the staging folder" << Show(m_staging);
        return false;
    }
    // The replaced model folder and earlier extractions were just removed beside it: its
    // folders are placed apart from that churn (see MarkAsTopOfTree).
    if (const OsHandle staging = platform::OpenFolderPath(m_staging.string()); staging.Valid())
        platform::MarkAsTopOfTree(staging.Get());
    if (ExtractToStaging(archive, abort) && MoveStagingIntoModels())
        return true;
    RemoveTree(m_staging);
    qCDebug(lcModels) << "staging folder removed";
    return false;
}

bool ModelInstaller::ExtractToStaging(const fs::path& archive,
                                      const std::atomic<bool>* abort) const {
    ArchiveHandle handle = ArchiveOpenFile(archive.u16string(), nullptr, m_staging);
    if (!handle) {
        qCWarning(lcModels) << "model archive" << Show(archive) << "is not a zip archive";
        return false;
    }
    std::vector<ArchiveHandle> handles{handle};
    struct CloseAll {
        std::vector<ArchiveHandle>& handles;
        ~CloseAll() {
            for (ArchiveHandle h : handles)
                ArchiveClose(h);
        }
    } closeAll{handles};

    ArchiveSurvey survey;
    if (const uint32_t rc = ArchiveSurveyEntries(handle, &survey); rc == ZR_OVERLAP) {
        qCWarning(lcModels) << "model archive refused: its entries overlap (entry"
                            << survey.overlapping << ")";
        return false;
    } else if (rc != ZR_OK) {
        qCWarning(lcModels) << "model archive refused: its directory is damaged";
        return false;
    }

    std::optional<Plan> plan = PlanEntries(survey);
    if (!plan)
        return false;
    uint64_t total = 0;
    for (const Planned& p : plan->files)
        total += p.size;
    if (!RoomFor(total, m_limits, m_staging))
        return false;

    qCDebug(lcModels) << "extraction: planned" << plan->files.size() << "files and"
                      << plan->folders.size() << "folders," << total << "bytes";
    // Folders first (cheap, and shared by the files); then the files, largest first so that
    // the threads finish together.
    if (!ExtractFolders(handle, plan->folders))
        return false;
    std::vector<Planned>& files = plan->files;
    std::stable_sort(files.begin(), files.end(),
                     [](const Planned& a, const Planned& b) { return a.size > b.size; });
    const unsigned threads = ThreadsFor(files.size(), m_limits.threads);
    while (handles.size() < threads) {
        ArchiveHandle more = ArchiveDuplicate(handle);
        if (!more)
            break;
        handles.push_back(more);
    }

    // Files the model folder already holds exactly as the archive has them are linked, not
    // written again: an update that changes a few files of many creates only those. Never
    // through a model folder that is a link (that one is updated file by file).
    const OsHandle previous = platform::OpenFolderPath(m_models.string());
    int skippedLate = 0;
    if (!ExtractFiles(handles, files, previous.Get(), abort, &skippedLate))
        return false;
    qCDebug(lcModels) << "extraction:" << files.size() + plan->folders.size() - skippedLate
                      << "entries extracted to staging on" << handles.size() << "threads,"
                      << plan->skipped + skippedLate << "left out";
    return true;
}

bool ModelInstaller::MoveStagingIntoModels() const {
    switch (SwapStagingWithModels()) {
        case Swapped::Yes:
            qCDebug(lcModels) << "installed into" << Show(m_models) << "in one step";
            return true;
        case Swapped::Refused:
            return false;
        case Swapped::No:
            break;
    }
    std::error_code ec;
    if (!fs::is_directory(m_models, ec)) {
        fs::create_directories(m_models, ec);
        if (!fs::is_directory(m_models, ec)) {
            qCWarning(lcModels) << "cannot create the model folder" << Show(m_models);
            return false;
        }
    }
    if (!CanReceive(m_staging, m_models))
        return false;
    const fs::path versionFile = m_staging / kVersionFile;
    const fs::file_status version = fs::symlink_status(versionFile, ec);
    const bool hasVersionFile = fs::is_regular_file(version);
    if (!MoveTree(m_staging, m_models, hasVersionFile ? kVersionFile : "")) {
        qCWarning(lcModels) << "install stopped; the model folder keeps its old version file";
        return false;
    }
    if (hasVersionFile && !MoveFile(versionFile, m_models / kVersionFile))
        return false;
    qCDebug(lcModels) << "installed into" << Show(m_models) << "file by file";
    return true;
}

// The staged folder, completed with what the model folder keeps, takes the model folder's
// place in one exchange of names, so a reader sees the old folder or the new one whole and
// never a mix. The old folder is left under the staging name for removal. No when the file
// system or the folders do not allow it (a model folder that is a link, a mount point, files
// that cannot be linked): then nothing of the model folder has changed and the caller moves
// file by file instead.
ModelInstaller::Swapped ModelInstaller::SwapStagingWithModels() const {
    const OsHandle staging = platform::OpenFolderPath(m_staging.string());
    if (!staging.Valid())
        return Swapped::No;
    bool noModels = false;
    const OsHandle models = platform::OpenFolderPath(m_models.string(), &noModels);
    if (noModels) {
        // No model folder yet: the staged one becomes it, unless one appeared meanwhile.
        std::error_code ec;
        fs::create_directories(m_models.parent_path(), ec);
        if (platform::FlushFileSystem(staging.Get()) &&
            platform::MoveFolderNoReplace(m_staging.string(), m_models.string()))
            return Swapped::Yes;
        return Swapped::No;
    }
    platform::FileFacts facts;
    if (!models.Valid() || !platform::LookAt(models.Get(), &facts))
        return Swapped::No;  // a link at the model folder's place is followed file by file
    switch (CarryOver(models.Get(), staging.Get(), m_models)) {
        case Carry::Conflict:
            return Swapped::Refused;
        case Carry::CannotLink:
            return Swapped::No;
        case Carry::Done:
            break;
    }
    // The exchange must not reach the disk before the files it publishes: after a power loss
    // the model folder is then either the old one or the new one with its data.
    if (!platform::SetPermissions(staging.Get(), facts.permissions) ||
        !platform::FlushFileSystem(staging.Get()))
        return Swapped::No;
    if (!platform::ExchangeFolders(m_staging.string(), m_models.string())) {
        qCDebug(lcModels) << "cannot exchange the staged and model folders:"
                          << platform::LastFailureText().c_str();
        return Swapped::No;
    }
    return Swapped::Yes;
}

}  // namespace vorn
