#pragma once

#include <atomic>
#include <filesystem>

namespace vorn {

// Installs a model archive so that the model folder is never left half-updated: the archive is
// extracted whole into a staging folder beside the model folder, and only when every entry
// succeeded are the files moved into the model folder one rename at a time, "ver.ini" (the
// version the next run compares against) last. A run killed at any point therefore leaves either
// the old version file or the complete new files; the next run cleans what was left. Files of
// the model folder that the archive does not hold are kept. Called on the update worker only.
class ModelInstaller {
public:
    // The caller guarantees that no other installer works on these folders at the same time.
    ModelInstaller(std::filesystem::path modelFolder, std::filesystem::path stagingFolder);

    // Removes a staging folder left by an earlier run. False when something could not be removed.
    bool CleanStaging() const;

    // Extracts the archive into a fresh staging folder and moves it into the model folder. False
    // (and the model folder unchanged, staging removed) when the archive cannot be opened or any
    // entry fails; also false if a move fails part-way, in which case "ver.ini" was not moved.
    // abort (may be null) is polled between entries.
    bool Install(const std::filesystem::path& archive, const std::atomic<bool>* abort) const;

private:
    bool ExtractToStaging(const std::filesystem::path& archive,
                          const std::atomic<bool>* abort) const;
    bool MoveStagingIntoModels() const;

    std::filesystem::path m_models;
    std::filesystem::path m_staging;
};

}  // namespace vorn
