#pragma once

#include "platform/FileBeneath.h"
#include "platform/UniqueFd.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace vorn {

// A model file opened for serving: the descriptor of exactly the file that was checked, so what
// is served is what was checked even if the name is replaced afterwards.
struct ModelFile {
    platform::UniqueFd fd;
    uint64_t size = 0;
};

// The model folder as the page's model URLs reach it. A name is served only when it leads to a
// regular file below the folder without following a symbolic link at any step (the folder itself
// may be a link: it is the deployment's choice). Nothing is kept between calls, so a file that an
// install replaced is seen at once. Every operation is safe on any thread.
class ModelFolder {
public:
    // How names are resolved below the folder: by the kernel in one step (openat2 with
    // RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS, Linux 5.6 and later), or one segment at a time with
    // O_NOFOLLOW. Kernel falls back to segments when the kernel lacks openat2.
    enum class Resolver { Kernel, Segments };

    explicit ModelFolder(std::filesystem::path folder, Resolver resolver = Resolver::Kernel);

    // True when name (a safe relative name, see IsSafeModelName) is a regular file below the
    // folder. Walks the name and reads the file's status; never opens or reads its contents, so
    // a FIFO or a huge file costs the same as any other name.
    bool Has(std::string_view name) const;

    // Opens name for reading: nothing when the name is unsafe, missing, reached through a link,
    // or not a regular file.
    std::optional<ModelFile> Open(std::string_view name) const;

    const std::filesystem::path& Path() const { return m_folder; }

private:
    platform::BeneathResolver Resolution() const;

    std::filesystem::path m_folder;
    Resolver m_resolver;
};

}  // namespace vorn
