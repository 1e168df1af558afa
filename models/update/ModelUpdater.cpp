#include "models/update/ModelUpdater.h"

#include "common/Logging.h"
#include "models/update/ModelInstaller.h"
#include "models/update/VersionDocument.h"
#include "services/settings/IniFile.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace vorn {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxVersionDocument = 1024 * 1024;

fs::path ToPath(const QString& text) {
    return fs::path(text.toStdU16String());
}

bool HasControlCharacters(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

}  // namespace

// What a run uses, shared by the updater and its worker's task.
struct CModelUpdater::Job {
    QString clientFolder;
    QString versionHost;
    vorn::HttpLimits limits;
    vorn::InstallLimits installLimits;
    QString settingsFile;
    std::atomic<bool> abort{false};
    std::mutex mutex;
    std::condition_variable idle;
    bool running = false;  // guarded by mutex

    void Run(int localVersion);
};

CModelUpdater::CModelUpdater(QString stateFolder,
                             QString versionHost,
                             vorn::HttpLimits limits,
                             vorn::InstallLimits install,
                             QString settingsFile)
    : m_job(std::make_shared<Job>()) {
    m_job->clientFolder = std::move(stateFolder);
    m_job->versionHost = std::move(versionHost);
    m_job->limits = limits;
    m_job->installLimits = std::move(install);
    m_job->settingsFile = settingsFile.isEmpty()
                              ? m_job->clientFolder + QStringLiteral("config.ini")
                              : std::move(settingsFile);
}

CModelUpdater::~CModelUpdater() {
    m_job->abort = true;
    if (!m_worker.Stop(vorn::Worker::kExitWait))
        qCWarning(lcModels,
                  "model update: the run did not stop within %lld ms; the client goes on "
                  "without waiting for it.",
                  static_cast<long long>(vorn::Worker::kExitWait.count()));
}

std::string CModelUpdater::VersionUrl(const QString& host, int64_t ticks) {
    // Milliseconds since boot wrap like a 32-bit tick count and are written signed.
    const auto rand = static_cast<int32_t>(static_cast<uint32_t>(ticks));
    return "http://" + host.toStdString() + "/modelVer.json?rand=" + std::to_string(rand);
}

void CModelUpdater::Start() {
    Start(-1);
}

bool CModelUpdater::Start(int localVersion) {
    std::lock_guard lock(m_job->mutex);
    if (m_job->running) {
        qCInfo(lcModels) << "model update requested while one is running; request ignored";
        return false;
    }
    const bool posted = m_worker.Post([job = m_job, localVersion] {
        job->Run(localVersion);
        std::lock_guard lock(job->mutex);
        job->running = false;
        job->idle.notify_all();
    });
    if (!posted) {
        qCWarning(lcModels) << "model update: no worker thread; the update is not run";
        return false;
    }
    m_job->running = true;
    return true;
}

void CModelUpdater::WaitForIdle() {
    std::unique_lock lock(m_job->mutex);
    m_job->idle.wait(lock, [this] { return !m_job->running; });
}

namespace {

// The version document at `versionUrl`, when it offers a version newer than `localVersion`
// from an address fit to download; what it offers otherwise is logged.
std::optional<vorn::VersionDocument> FetchNewerVersion(vorn::HttpClient& http,
                                                       const std::string& versionUrl,
                                                       int localVersion) {
    const std::optional<std::string> text = http.FetchText(versionUrl, kMaxVersionDocument);
    if (!text) {
        qCWarning(lcModels) << "model update: version document unavailable from"
                            << versionUrl.c_str();
        return std::nullopt;
    }
    std::optional<vorn::VersionDocument> doc = vorn::ParseVersionDocument(*text);
    if (!doc) {
        qCWarning(lcModels) << "model update: version document unreadable; nothing done";
        return std::nullopt;
    }
    if (doc->modelVer <= localVersion || doc->downloadUrl.empty()) {
        qCInfo(lcModels) << "model update: remote version" << doc->modelVer << "local version"
                         << localVersion
                         << (doc->downloadUrl.empty() ? "(no download address)" : "")
                         << "- nothing to download";
        return std::nullopt;
    }
    if (HasControlCharacters(doc->downloadUrl)) {
        qCWarning(lcModels)
            << "model update: download address contains control characters; refused";
        return std::nullopt;
    }
    return doc;
}

// Downloads beside the archive and only then takes its place, so that a failed download never
// leaves an archive of another version to be extracted.
bool DownloadArchive(vorn::HttpClient& http,
                     const std::string& url,
                     const fs::path& archive,
                     uint64_t maxBytes) {
    fs::path download = archive;
    download += "_temp";
    if (!http.DownloadToFile(url, download, maxBytes)) {
        qCWarning(lcModels) << "model update: download failed; model folder unchanged";
        return false;
    }
    std::error_code ec;
    fs::rename(download, archive, ec);
    if (ec) {
        // Extracting whatever older archive sits there would install the wrong version.
        qCWarning(lcModels) << "model update: cannot move the download into place:"
                            << ec.message().c_str();
        fs::remove(download, ec);
        return false;
    }
    qCInfo(lcModels) << "model update: downloaded" << fs::file_size(archive, ec) << "bytes";
    return true;
}

}  // namespace

void CModelUpdater::Job::Run(int localVersion) {
    const fs::path client = ToPath(clientFolder);
    const fs::path archive = client / "models.zip";
    // The state folder is made at start-up, but something may have removed it since; the
    // download and the models live in it.
    std::error_code made;
    fs::create_directories(client, made);
    if (made)
        qCWarning(lcModels, "The folder %s cannot be created; the model update cannot save files.",
                  qPrintable(clientFolder));
    vorn::InstallLimits install = installLimits;
    const int limitMB = vorn::IniFile::ReadInt(settingsFile, QStringLiteral("Config"),
                                               QStringLiteral("ModelLimitMB"), 0);
    if (limitMB > 0)
        install.maxUnpackedBytes = uint64_t(limitMB) << 20;
    vorn::ModelInstaller installer(client / "models", client / "models.staging", install);

    // A run killed during extraction leaves its staging folder behind.
    installer.CleanStaging();

    if (localVersion <= 0) {
        localVersion =
            vorn::IniFile::ReadInt(clientFolder + QStringLiteral("models/ver.ini"),
                                   QStringLiteral("Config"), QStringLiteral("Ver"), localVersion);
    }
    const auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    vorn::HttpClient http(limits, &abort);
    const std::optional<vorn::VersionDocument> doc =
        FetchNewerVersion(http, VersionUrl(versionHost, ticks), localVersion);
    if (!doc)
        return;
    qCInfo(lcModels) << "model update: version" << localVersion << "->" << doc->modelVer << "from"
                     << doc->downloadUrl.c_str();
    if (!DownloadArchive(http, doc->downloadUrl, archive, install.maxUnpackedBytes))
        return;
    if (!installer.Install(archive, &abort)) {
        qCWarning(lcModels) << "model update: installation failed; the model folder keeps version"
                            << localVersion;
        return;
    }
    qCInfo(lcModels) << "model update: version" << doc->modelVer << "installed";
    // The replaced model folder goes once the new one is in place; a run killed before that
    // leaves it to the next run's cleaning above.
    if (!installer.CleanStaging())
        qCWarning(lcModels) << "model update: the replaced model folder could not be removed";
}

}  // namespace vorn
