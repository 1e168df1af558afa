// Every archive of the hostile corpus (tests/archive_corpus/make_corpus.py), extracted the way
// the model update does it: result codes, exactly what lands, and nothing outside the base.

#include "models/archive/Archive.h"

#include "FileHelpers.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace vorn;

namespace {

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

struct Landed {
    std::string content;  // "*": any
    bool readOnly = false;
    long mtime = -1;
};

struct Expectation {
    std::string file;
    bool opens = false;
    int count = 0;
    uint32_t survey = ZR_OK;
    std::vector<std::pair<uint32_t, std::optional<uint32_t>>> results;  // no extract: not tried
    std::set<std::string> dirs;
    std::map<std::string, Landed> files;
};

std::vector<Expectation> ReadManifest(const fs::path& path) {
    std::vector<Expectation> all;
    std::istringstream in(ziptest::ReadFile(path));
    std::string line;
    Expectation cur;
    while (std::getline(in, line)) {
        std::istringstream l(line);
        std::string kind;
        l >> kind;
        if (kind == "archive") {
            cur = Expectation{};
            int opens = 0;
            std::string survey;
            l >> cur.file >> opens >> cur.count >> survey;
            cur.opens = opens;
            cur.survey = std::stoul(survey, nullptr, 16);
        } else if (kind == "entry") {
            std::string get, extract;
            l >> get >> extract;
            cur.results.emplace_back(
                std::stoul(get, nullptr, 16),
                extract == "-" ? std::nullopt
                               : std::optional<uint32_t>(std::stoul(extract, nullptr, 16)));
        } else if (kind == "dir") {
            std::string p;
            l >> p;
            cur.dirs.insert(Unhex(p));
        } else if (kind == "file") {
            std::string p, content, mode, mtime;
            l >> p >> content >> mode >> mtime;
            Landed landed;
            landed.content = content == "*" ? "*" : content == "-" ? "" : Unhex(content);
            landed.readOnly = mode == "ro";
            landed.mtime = mtime == "-" ? -1 : std::stol(mtime);
            cur.files[Unhex(p)] = landed;
        } else if (kind == "end") {
            all.push_back(cur);
        }
    }
    return all;
}

// Extracts one archive into `base` and checks it against its expectation.
void Check(const Expectation& e, const fs::path& archive, const fs::path& base) {
    SCOPED_TRACE(e.file);
    {
        // The survey, on a handle of its own so that the entries below are also read one by one.
        ArchiveHandle s = ArchiveOpenFile(archive.u16string(), nullptr, base);
        ArchiveSurvey survey;
        EXPECT_EQ(ArchiveSurveyEntries(s, &survey), e.survey);
        EXPECT_EQ(survey.entries.size(), size_t(s ? e.count : 0));
        for (size_t i = 0; i < survey.entries.size(); ++i)
            EXPECT_EQ(survey.entries[i].result, e.results[i].first) << "survey " << i;
        ArchiveClose(s);
    }
    ArchiveHandle h = ArchiveOpenFile(archive.u16string(), nullptr, base);
    ASSERT_EQ(h != nullptr, e.opens);
    ArchiveItem item;
    ArchiveGetItem(h, -1, &item);
    ASSERT_EQ(item.index, e.count);
    ASSERT_EQ(e.results.size(), size_t(e.count));
    for (int i = 0; i < item.index && h; ++i) {
        ArchiveItem entry;
        const uint32_t got = ArchiveGetItem(h, i, &entry);
        EXPECT_EQ(got, e.results[i].first) << "get " << i;
        if (e.results[i].second) {
            EXPECT_EQ(ArchiveExtractItem(h, i, entry.name), *e.results[i].second)
                << "extract " << i;
        }
    }
    if (h) {
        EXPECT_EQ(ArchiveClose(h), ZR_OK);
    }

    std::set<std::string> dirs;
    std::map<std::string, std::string> files;
    if (fs::exists(base)) {
        for (const auto& it : fs::recursive_directory_iterator(base)) {
            const std::string rel = fs::relative(it.path(), base).string();
            struct stat st {};
            ASSERT_EQ(lstat(it.path().c_str(), &st), 0);
            ASSERT_FALSE(S_ISLNK(st.st_mode)) << rel << " is a link";
            if (S_ISDIR(st.st_mode)) {
                dirs.insert(rel);
                continue;
            }
            ASSERT_TRUE(S_ISREG(st.st_mode)) << rel;
            files[rel] = ziptest::ReadFile(it.path());
            const auto want = e.files.find(rel);
            if (want == e.files.end())
                continue;
            EXPECT_EQ((st.st_mode & 0222) == 0, want->second.readOnly) << rel;
            if (want->second.mtime >= 0) {
                EXPECT_EQ(st.st_mtim.tv_sec, want->second.mtime) << rel;
            }
        }
    }
    EXPECT_EQ(dirs, e.dirs);
    std::set<std::string> landed, expected;
    for (const auto& [p, c] : files)
        landed.insert(p);
    for (const auto& [p, l] : e.files) {
        expected.insert(p);
        if (files.count(p) && l.content != "*") {
            EXPECT_TRUE(files[p] == l.content) << p << " has other content";
        }
    }
    EXPECT_EQ(landed, expected);
}

TEST(ArchiveCorpus, EveryArchiveGivesItsCodesAndNothingLeavesTheBase) {
    const char* source = std::getenv("VORN_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "VORN_SOURCE_DIR names the source tree (set by CTest)";
    vorn::test::TempFolder tree{"vorn_zip"};
    const fs::path corpus = tree.Root() / "corpus", outside = tree.Root() / "outside",
                   cwd = tree.Root() / "cwd";
    fs::create_directories(outside);
    fs::create_directories(cwd);
    const std::string command = std::string("python3 '") + source +
                                "/tests/archive_corpus/make_corpus.py' '" + corpus.string() +
                                "' --escape-dir '" + outside.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    const std::vector<Expectation> all = ReadManifest(corpus / "manifest.txt");
    ASSERT_GE(all.size(), 30u);
    const fs::path before = fs::current_path();
    fs::current_path(cwd);  // a relative escape would show up here
    int index = 0;
    for (const Expectation& e : all) {
        const fs::path base = tree.Root() / ("b" + std::to_string(index++));
        ASSERT_LE(base.string().size(), 50u);
        Check(e, corpus / e.file, base);
        std::error_code ec;
        for (const auto& it : fs::recursive_directory_iterator(base, ec))
            fs::permissions(it.path(), fs::perms::owner_write, fs::perm_options::add, ec);
        fs::remove_all(base);
    }
    fs::current_path(before);

    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_TRUE(fs::is_empty(cwd));
    std::set<fs::path> top;
    for (const auto& it : fs::directory_iterator(tree.Root()))
        top.insert(it.path().filename());
    EXPECT_EQ(top, (std::set<fs::path>{"corpus", "outside", "cwd"}));
}

}  // namespace
