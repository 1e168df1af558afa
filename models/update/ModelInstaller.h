#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace vorn {

// What an install may take. The defaults suit a real model folder; tests shrink them.
struct InstallLimits {
    // Largest total of the recorded sizes of the files an archive installs.
    uint64_t maxUnpackedBytes = uint64_t(8) << 30;
    // Room the model folder's file system keeps free after the staged copy is written.
    uint64_t freeSpaceMargin = uint64_t(256) << 20;
    // Bytes available to this process on the file system that holds the given folder; nothing
    // when that cannot be told (then the install goes ahead). Empty: the system's own figure.
    std::function<std::optional<uint64_t>(const std::filesystem::path&)> freeSpace;
    // Extraction threads; 0 means one per core.
    unsigned threads = 0;
};

// Installs a model archive so that the model folder is never left half-updated: the archive is
// extracted whole into a staging folder beside the model folder. Only when that succeeded does
// the staged folder, given hard links to the files of the model folder that the archive does
// not hold (those are kept), trade places with the model folder in one exchange of names, after
// its data has reached the disk. The old folder is then left under the staging name for
// CleanStaging, so that removing it is not part of the install's time. A reader of the model folder
// sees the old version or the new one whole. Where that exchange is not possible (the model
// folder is a link or a mount point, the file system cannot link or exchange), the files are
// moved into the model folder one by one instead, "ver.ini" (the version the next run compares
// against) last. A run killed at any point therefore leaves either the old version file or the
// complete new files; the next run cleans what was left.
//
// Entries refused for their name (climbing out, absolute, empty, too long) or for how they are
// stored (a method other than stored or deflate, encryption) are left out with a warning and the
// rest installs. Damaged data (overlapping entries, unreadable headers, data that does not give
// its recorded size or CRC) and disk failures discard the whole install, as do archives that
// exceed the limits, which are refused before anything is written. Entries are extracted in
// parallel, one archive handle per thread. Called on the update worker only.
class ModelInstaller {
public:
    // The caller guarantees that no other installer works on these folders at the same time.
    ModelInstaller(std::filesystem::path modelFolder,
                   std::filesystem::path stagingFolder,
                   InstallLimits limits = {});

    // Removes what the staging folder holds: what a killed run left, or the model folder that
    // the last install replaced. False when something could not be removed.
    bool CleanStaging() const;

    // Extracts the archive into a fresh staging folder and moves it into the model folder. True
    // when installed; the staging folder may then hold the replaced model folder, which the
    // caller removes with CleanStaging once the outcome is reported (Install itself removes it
    // first at its next call). False (the model folder unchanged, staging removed, a warning
    // logged) when the archive cannot be opened, is damaged, exceeds a limit, or extraction
    // fails on the disk; also false if a move fails part-way, in which case "ver.ini" was not
    // moved. abort (may be null) is polled between entries.
    bool Install(const std::filesystem::path& archive, const std::atomic<bool>* abort) const;

private:
    bool ExtractToStaging(const std::filesystem::path& archive,
                          const std::atomic<bool>* abort) const;
    bool MoveStagingIntoModels() const;
    enum class Swapped { Yes, No, Refused };
    Swapped SwapStagingWithModels() const;

    std::filesystem::path m_models;
    std::filesystem::path m_staging;
    InstallLimits m_limits;
};

}  // namespace vorn
