// Feeds arbitrary bytes to the archive layer as an in-memory archive and extracts every entry
// into a scratch folder; aborts if anything appears beside that folder or as a link in it.
//   build-fuzz/fuzz/archive_fuzz -max_total_time=30 <work dir> build-fuzz/fuzz/archive_seeds

#include "common/LogSink.h"
#include "models/archive/Archive.h"
#include "tests/support/TempFolder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vorn;

namespace {

// In memory where the system offers it: every input extracts into it. Removed at exit.
const fs::path& Root() {
    static const vorn::test::TempFolder root(
        "vorn_archive_fuzz", fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::path());
    return root.Root();
}

// Empties the folder open as `dir` in one pass, aborting on a link: the entry types come from
// the directory listing itself (tmpfs and every usual file system give them), so no entry is
// looked up twice and files need no permission change. A folder the archive made unwritable is
// opened up before its entries go.
void ClearFolder(int dir) {
    DIR* listing = fdopendir(dir);
    if (!listing)
        abort();
    while (const dirent* e = readdir(listing)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                abort();
            type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        }
        if (type == DT_LNK)
            abort();  // extraction never makes links
        if (type == DT_DIR) {
            struct stat st {};
            if (fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                abort();
            if ((st.st_mode & 0700) != 0700)
                fchmodat(dir, e->d_name, 0755, 0);
            const int child =
                openat(dir, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0)
                abort();
            ClearFolder(child);
        }
        if (unlinkat(dir, e->d_name, type == DT_DIR ? AT_REMOVEDIR : 0) != 0)
            abort();  // something the extraction left cannot be removed
    }
    closedir(listing);
}

void CheckAndClear(const fs::path& base) {
    std::error_code ec;
    for (const auto& it : fs::directory_iterator(Root(), ec)) {
        if (it.path() != base)
            abort();  // something landed beside the base folder
    }
    struct stat st {};
    if (lstat(base.c_str(), &st) != 0)
        return;  // nothing was extracted
    if (!S_ISDIR(st.st_mode))
        abort();  // the base itself was replaced
    if ((st.st_mode & 0700) != 0700)
        chmod(base.c_str(), 0755);
    const int dir = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        abort();
    ClearFolder(dir);
    // Every input starts without the base folder, as the installer's does.
    if (rmdir(base.c_str()) != 0)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Refused entries are logged as warnings; millions of them would drown the fuzzer's output.
    vorn::log::SetSink([](vorn::log::Area, vorn::log::Level, std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path base = Root() / "base";
    // Half the inputs carry a password, so encrypted entries are decrypted too.
    const char* password = (size & 1) ? "fuzz" : nullptr;
    ArchiveHandle h = ArchiveOpenMemory(data, size, password, base);
    ArchiveItem item;
    ArchiveGetItem(h, -1, &item);
    const int count = item.index < 2000 ? item.index : 2000;
    for (int i = 0; i < count; ++i) {
        ArchiveGetItem(h, i, &item);
        ArchiveExtractItem(h, i, item.name);
        if (i % 3 == 0)
            ArchiveExtractItem(h, i, u"fixed/target.bin");
        if (i % 3 == 1) {
            std::string bytes;
            ArchiveReadItem(h, i, &bytes);
        }
    }
    ArchiveGetItem(h, count > 0 ? 0 : -1, &item);  // stepping back after the last
    ArchiveClose(h);

    // The installer's way: one survey, then a duplicated handle reads from its table.
    ArchiveHandle surveyed = ArchiveOpenMemory(data, size, password, base);
    ArchiveSurvey survey;
    ArchiveSurveyEntries(surveyed, &survey);
    ArchiveHandle twin = ArchiveDuplicate(surveyed);
    for (size_t i = 0; i < survey.entries.size() && i < 2000; i += 2) {
        if (survey.entries[i].result == ZR_OK)
            ArchiveExtractItem(twin, int(i), u"twin/" + survey.entries[i].item.name);
    }
    ArchiveClose(twin);
    ArchiveClose(surveyed);
    CheckAndClear(base);
    return 0;
}
