#include "models/archive/ArchiveFolders.h"

#include "common/PathSegments.h"
#include "models/archive/Archive.h"
#include "models/archive/ArchiveNames.h"

#include <utility>

namespace vorn::archive {

namespace {

uint32_t ToResult(platform::StepResult result) {
    switch (result) {
        case platform::StepResult::Ok:
            return ZR_OK;
        case platform::StepResult::Link:
            return ZR_LINK;
        case platform::StepResult::Failed:
            break;
    }
    return ZR_NOFILE;
}

// Calls `step` with each "/"-separated step of `folder` ("" and "." skipped) until it gives
// something other than ZR_OK, which is then returned.
template <typename Step>
uint32_t ForEachStep(std::string_view folder, Step&& step) {
    size_t start = 0;
    while (start < folder.size()) {
        size_t end = folder.find('/', start);
        if (end == std::string_view::npos)
            end = folder.size();
        const std::string_view name = folder.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".")
            continue;
        if (const uint32_t rc = step(name); rc != ZR_OK)
            return rc;
    }
    return ZR_OK;
}

// Walks `folder` step by step from `current`, creating missing steps when `create`.
uint32_t Walk(OsHandle current,
              std::string_view folder,
              bool followLinks,
              bool create,
              OsHandle* out) {
    const uint32_t rc = ForEachStep(folder, [&](std::string_view name) {
        OsHandle next;
        const uint32_t step = ToResult(
            platform::OpenFolderStep(current.Get(), std::string(name), followLinks, create, &next));
        current = std::move(next);
        return step;
    });
    if (rc == ZR_OK)
        *out = std::move(current);
    return rc;
}

}  // namespace

uint32_t CheckStepName(std::string_view name) {
    return platform::kStepNamesHaveSystemMeanings ? CheckWindowsStepName(name) : ZR_OK;
}

uint32_t CreateEntryFile(NativeHandle folder,
                         const std::string& name,
                         bool readOnly,
                         OsHandle* out) {
    *out = OsHandle();
    if (name.empty() || name == "." || name == "..")
        return ZR_NOFILE;
    if (CheckStepName(name) != ZR_OK)
        return ZR_UNSAFE_NAME;
    return ToResult(platform::CreateFileAt(folder, name, readOnly, out));
}

// Refused before anything is made, so a refused path leaves no half of itself behind.
uint32_t CheckPathSteps(std::string_view path) {
    return ForEachStep(path, [](std::string_view name) { return CheckStepName(name); });
}

uint32_t OpenFolder(const std::string* base,
                    std::string_view folder,
                    bool absolute,
                    OsHandle* folderOut) {
    *folderOut = OsHandle();
    if (!absolute && HasParentSegment(folder))
        return ZR_UNSAFE_NAME;
    const size_t root = absolute ? platform::RootLength(folder) : 0;
    const std::string rootPath(folder.substr(0, root));
    folder.remove_prefix(root);
    if (CheckPathSteps(folder) != ZR_OK)
        return ZR_UNSAFE_NAME;
    OsHandle current = root > 0            ? platform::OpenSystemFolder(rootPath, false)
                       : !absolute && base ? platform::OpenSystemFolder(*base, true)
                                           : platform::OpenSystemFolder(".", false);
    if (!current.Valid())
        return ZR_NOFILE;
    // An absolute folder is the caller's own choice and is taken as the system resolves it.
    return Walk(std::move(current), folder, absolute, true, folderOut);
}

uint32_t OpenFolderAt(NativeHandle base,
                      std::string_view folder,
                      OsHandle* folderOut,
                      bool create) {
    *folderOut = OsHandle();
    if (HasParentSegment(folder) || CheckPathSteps(folder) != ZR_OK)
        return ZR_UNSAFE_NAME;
    OsHandle current = platform::Duplicate(base);
    if (!current.Valid())
        return ZR_NOFILE;
    return Walk(std::move(current), folder, false, create, folderOut);
}

}  // namespace vorn::archive
