#pragma once

#include "models/update/HttpClient.h"
#include "models/update/ModelInstaller.h"

#include "common/Worker.h"

#include <QString>

#include <memory>

namespace vorn {

// What the page bridge asks of the model update (CModelUpdater below; tests hand in fakes).
class IModelUpdate {
public:
    virtual ~IModelUpdate() = default;
    // Download and install on the update's own worker; returns at once.
    virtual void Start() = 0;
};

// Brings the model folder (in the client's state folder) up to date from the model CDN host:
// fetches "modelVer.json", and when its version is newer than the local "ver.ini" downloads the
// archive and installs it (see vorn::ModelInstaller). A run reports nothing back; its outcome is
// what it leaves on disk and the lines it writes to the vorn.models logging category (failures as
// warnings).
//
// The archive may neither download nor unpack to more than the size limit, "ModelLimitMB" of
// the [Config] section of the settings file (read at each run; missing, zero or negative: the
// limit of `install`, 8 GiB by default).
class CModelUpdater : public IModelUpdate {
public:
    // stateFolder ends in "/" and holds "models/", "models.zip" and the staging folder (the
    // client folder when portable); versionHost is "host" or "host:port". settingsFile is the
    // config.ini that holds the size limit (empty: the one in stateFolder).
    CModelUpdater(QString stateFolder,
                  QString versionHost,
                  vorn::HttpLimits limits = {},
                  vorn::InstallLimits install = {},
                  QString settingsFile = {});
    // Stops a run under way (transfers end, extraction stops between entries) and waits for it
    // at most Worker::kExitWait; a run that has not stopped by then (a write that does not come
    // back) keeps what it uses and ends with the process.
    ~CModelUpdater() override;
    CModelUpdater(const CModelUpdater&) = delete;
    CModelUpdater& operator=(const CModelUpdater&) = delete;

    // Main thread. Starts a run on a worker and returns at once. A local version of 0 or less
    // means "read ver.ini, with this as the default". False (and a log line) when a run is
    // already under way: two runs never overlap.
    bool Start(int localVersion);
    // The page's Update: Start with the version of ver.ini.
    void Start() override;

    // Any thread but the worker. Blocks until no run is under way.
    void WaitForIdle();

    // The version document's address for a given tick count ("?rand=<ticks as signed 32-bit>").
    static std::string VersionUrl(const QString& host, int64_t ticks);

private:
    struct Job;
    const std::shared_ptr<Job> m_job;
    // Last: a stop that gives up on a run leaves it the job, nothing of this object.
    vorn::Worker m_worker;
};

}  // namespace vorn
