#include "models/update/ModelInstaller.h"

#include "models/archive/Archive.h"
#include "platform/Logging.h"

#include <QString>

#include <vector>

namespace fs = std::filesystem;

namespace vorn {
namespace {

constexpr char kVersionFile[] = "ver.ini";

QString Show(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// Read-only folders from an archive would otherwise stop their contents from being removed.
bool RemoveTree(const fs::path& root) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(root, ec)))
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

// Makes every folder of `relative` below `base` exist as a real folder. A symbolic link or a
// file standing in the way is a failure: following a link could carry the files elsewhere.
bool EnsureRealFolders(const fs::path& base, const fs::path& relative) {
    fs::path current = base;
    for (const fs::path& part : relative) {
        current /= part;
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(current, ec);
        if (fs::is_directory(status))
            continue;
        if (fs::exists(status) || !fs::create_directory(current, ec) || ec) {
            qCDebug(lcModels) << "cannot make folder" << Show(current);
            return false;
        }
    }
    return true;
}

// True when every folder of `relative` below `base` is a real folder or still missing.
bool CanHoldFolder(const fs::path& base, const fs::path& relative) {
    fs::path current = base;
    for (const fs::path& part : relative) {
        current /= part;
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(current, ec);
        if (!fs::exists(status))
            return true;
        if (!fs::is_directory(status))
            return false;
    }
    return true;
}

// Each file arrives whole: a rename within one file system, else a copy beside the target
// renamed over it (the model folder may be a link to another file system).
bool MoveFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec)
        return true;
    if (ec != std::errc::cross_device_link) {
        qCDebug(lcModels) << "cannot move" << Show(from) << "to" << Show(to) << ":"
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

bool IsUsableEntryName(const std::u16string& name) {
    if (name.empty() || name.front() == u'/' || name.front() == u'\\')
        return false;
    return !(name.size() >= 2 && name[1] == u':');
}

}  // namespace

ModelInstaller::ModelInstaller(fs::path modelFolder, fs::path stagingFolder)
    : m_models(std::move(modelFolder)), m_staging(std::move(stagingFolder)) {}

bool ModelInstaller::CleanStaging() const {
    if (!fs::exists(fs::symlink_status(m_staging)))
        return true;
    qCDebug(lcModels) << "removing the staging folder left by an earlier run";
    return RemoveTree(m_staging);
}

bool ModelInstaller::Install(const fs::path& archive, const std::atomic<bool>* abort) const {
    if (!CleanStaging()) {
        qCDebug(lcModels) << "cannot clear the staging folder" << Show(m_staging);
        return false;
    }
    std::error_code ec;
    if (!fs::create_directory(m_staging, ec) || ec) {
        qCDebug(lcModels) << "cannot create the staging folder" << Show(m_staging);
        return false;
    }
    bool ok = ExtractToStaging(archive, abort);
    if (ok)
        ok = MoveStagingIntoModels();
    RemoveTree(m_staging);
    return ok;
}

bool ModelInstaller::ExtractToStaging(const fs::path& archive,
                                      const std::atomic<bool>* abort) const {
    ArchiveHandle handle = ArchiveOpenFile(archive.u16string(), nullptr, m_staging);
    if (!handle) {
        qCDebug(lcModels) << "extraction: cannot open" << Show(archive) << "as a zip archive";
        return false;
    }
    ArchiveItem item;
    ArchiveGetItem(handle, -1, &item);
    const int count = item.index;
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        if (abort && abort->load()) {
            ok = false;
            break;
        }
        uint32_t rc = ArchiveGetItem(handle, i, &item);
        if (rc == ZR_OK && !IsUsableEntryName(item.name))
            rc = ZR_ARGS;
        if (rc == ZR_OK)
            rc = ArchiveExtractItem(handle, i, item.name);
        if (rc != ZR_OK) {
            qCDebug(lcModels) << "extraction: entry" << i << QString::fromStdU16String(item.name)
                              << "failed with code" << Qt::hex << rc;
            ok = false;
        }
    }
    ArchiveClose(handle);
    if (ok)
        qCDebug(lcModels) << "extraction: all" << count << "entries extracted to staging";
    return ok;
}

bool ModelInstaller::MoveStagingIntoModels() const {
    std::error_code ec;
    if (!fs::is_directory(m_models, ec)) {
        fs::create_directories(m_models, ec);
        if (!fs::is_directory(m_models, ec)) {
            qCDebug(lcModels) << "cannot create the model folder" << Show(m_models);
            return false;
        }
    }
    // Collect first: moving while iterating would change what the iterator walks.
    std::vector<fs::path> folders;
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(m_staging, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path relative = it->path().lexically_relative(m_staging);
        if (it->is_directory(ec) && !it->is_symlink(ec))
            folders.push_back(relative);
        else
            files.push_back(relative);
    }
    if (ec) {
        qCDebug(lcModels) << "cannot list the staging folder:" << ec.message().c_str();
        return false;
    }
    // Conflicts (a file where a folder goes, a link on the way) are found before anything moves,
    // so the usual failure leaves the model folder exactly as it was.
    for (const fs::path& folder : folders) {
        if (!CanHoldFolder(m_models, folder))
            return false;
    }
    for (const fs::path& file : files) {
        if (!CanHoldFolder(m_models, file.parent_path()) ||
            fs::is_directory(fs::symlink_status(m_models / file, ec))) {
            qCDebug(lcModels) << "a folder or link of the model folder is in the way of"
                              << Show(file);
            return false;
        }
    }
    const fs::path versionFile(kVersionFile);
    bool hasVersionFile = false;
    for (const fs::path& folder : folders) {
        if (!EnsureRealFolders(m_models, folder))
            return false;
    }
    for (const fs::path& file : files) {
        if (file == versionFile) {
            hasVersionFile = true;
            continue;
        }
        if (!EnsureRealFolders(m_models, file.parent_path()) ||
            !MoveFile(m_staging / file, m_models / file)) {
            qCDebug(lcModels) << "install stopped; the model folder keeps its old version file";
            return false;
        }
    }
    if (hasVersionFile && !MoveFile(m_staging / versionFile, m_models / versionFile))
        return false;
    qCDebug(lcModels) << "installed" << files.size() << "files into" << Show(m_models);
    return true;
}

}  // namespace vorn
