#include "models/update/ModelUpdater.h"

#include "models/update/HttpClient.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <minizip/zip.h>

#include <QtGlobal>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

using vorn::CModelUpdater;

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct Entry {
    std::string name;  // ending in "/" makes a directory entry
    std::string data;
    bool stored = false;
};

std::string BuildZip(const std::vector<Entry>& entries) {
    char path[] = "/tmp/vorn-zip-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    zipFile zf = zipOpen(path, APPEND_STATUS_CREATE);
    for (const Entry& e : entries) {
        zip_fileinfo info{};
        info.tmz_date.tm_year = 2024;
        info.tmz_date.tm_mday = 1;
        const bool dir = !e.name.empty() && e.name.back() == '/';
        info.external_fa = dir ? 0x10 : 0x20;
        zipOpenNewFileInZip(zf, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                            e.stored || dir ? 0 : Z_DEFLATED, e.stored ? 0 : 1);
        if (!e.data.empty())
            zipWriteInFileInZip(zf, e.data.data(), static_cast<unsigned>(e.data.size()));
        zipCloseFileInZip(zf);
    }
    zipClose(zf, nullptr);
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unlink(path);
    return bytes;
}

// One archive of the hostile corpus (tests/archive_corpus/make_corpus.py).
std::string CorpusArchive(const std::string& name) {
    const char* source = std::getenv("VORN_SOURCE_DIR");
    if (!source)
        return {};
    const vorn::test::TempFolder dir{"vorn-corpus"};
    const std::string command = std::string("python3 '") + source +
                                "/tests/archive_corpus/make_corpus.py' '" + dir.Root().string() +
                                "' --only " + name;
    std::string bytes;
    if (std::system(command.c_str()) == 0) {
        std::ifstream in(dir / name, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    return bytes;
}

// The warnings of the vorn.models category while it lives (from any thread).
class Warnings {
public:
    Warnings() {
        s_self = this;
        m_previous = qInstallMessageHandler(&Handle);
    }
    ~Warnings() {
        qInstallMessageHandler(m_previous);
        s_self = nullptr;
    }
    // How many warnings so far contain `text`.
    int Count(const std::string& text) {
        std::lock_guard lock(m_mutex);
        int n = 0;
        for (const std::string& line : m_lines)
            n += line.find(text) != std::string::npos;
        return n;
    }

private:
    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type == QtWarningMsg && s_self && std::string(context.category) == "vorn.models") {
            std::lock_guard lock(s_self->m_mutex);
            s_self->m_lines.push_back(text.toStdString());
        }
        if (s_self && s_self->m_previous)
            s_self->m_previous(type, context, text);
    }
    static inline Warnings* s_self = nullptr;
    QtMessageHandler m_previous = nullptr;
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

using Snapshot = std::map<std::string, std::string>;

// Every file (with its bytes) and folder below root.
Snapshot Take(const fs::path& root) {
    Snapshot snap;
    if (!fs::exists(root))
        return snap;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = e.path().lexically_relative(root).string();
        if (e.is_directory()) {
            snap[rel + "/"] = "";
        } else {
            std::ifstream in(e.path(), std::ios::binary);
            snap[rel] = std::string((std::istreambuf_iterator<char>(in)), {});
        }
    }
    return snap;
}

std::string VerIni(int v) {
    return "[Config]\nVer=" + std::to_string(v) + "\n";
}

class ModelUpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        client = temp.Root();
        models = client / "models";
        fs::create_directories(models / "sub");
        Write(models / "ver.ini", VerIni(5));
        Write(models / "a.bin", "old a");
        Write(models / "keep.txt", "not in any archive");
        Write(models / "sub/b.bin", "old b");

        server.Get("/modelVer.json", [this](const httplib::Request& req, httplib::Response& res) {
            std::string doc;
            int status;
            {
                std::lock_guard lock(mutex);
                ++versionRequests;
                rands.push_back(req.get_param_value("rand"));
                doc = versionDoc;
                status = versionStatus;
            }
            if (versionDelay.count() > 0)
                std::this_thread::sleep_for(versionDelay);
            {
                std::unique_lock lock(mutex);
                gateCv.wait(lock, [this] { return gateOpen; });
            }
            res.status = status;
            res.set_content(doc, "application/json");
        });
        // 100 bytes a second, for ever (until the client gives up).
        server.Get("/trickle.zip", [this](const httplib::Request&, httplib::Response& res) {
            {
                std::lock_guard lock(mutex);
                ++archiveRequests;
            }
            res.set_content_provider(size_t(1) << 30, "application/zip",
                                     [](size_t, size_t, httplib::DataSink& sink) {
                                         std::this_thread::sleep_for(100ms);
                                         return sink.write("PK--------", 10);
                                     });
        });
        const auto serveArchive = [this](const httplib::Request&, httplib::Response& res) {
            std::string body;
            int status;
            size_t cut;
            {
                std::lock_guard lock(mutex);
                ++archiveRequests;
                body = archive;
                status = archiveStatus;
                cut = archiveCutAt;
            }
            res.status = status;
            if (cut == std::string::npos) {
                res.set_content(body, "application/zip");
                return;
            }
            // Announces the whole length, sends part of it, then drops the connection.
            res.set_content_provider(body.size(), "application/zip",
                                     [body, cut](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset >= cut)
                                             return false;
                                         return sink.write(body.data() + offset, cut - offset);
                                     });
        };
        server.Get("/models.zip", serveArchive);
        // As a person writes an address: a space and a name that is not ASCII (the server sees
        // the path decoded, as every HTTP server does).
        server.Get("/models v2 \xe6\xa8\xa1\xe5\x9e\x8b.zip", serveArchive);
        port = server.bind_to_any_port("127.0.0.1");
        ASSERT_GT(port, 0);
        serverThread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::sleep_for(1ms);
        host = QString("127.0.0.1:%1").arg(port);
        zipUrl = "http://127.0.0.1:" + std::to_string(port) + "/models.zip";
        before = Take(models);
        cwdBefore = fs::current_path();
    }

    void TearDown() override {
        OpenGate();
        server.stop();
        serverThread.join();
        EXPECT_EQ(fs::current_path(), cwdBefore);
    }

    static void Write(const fs::path& p, const std::string& data) {
        std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
    }

    void Serve(const std::string& doc) {
        std::lock_guard lock(mutex);
        versionDoc = doc;
    }
    void ServeVersion(int ver) {
        Serve(R"({"modelVer": )" + std::to_string(ver) + R"(, "downloadUrl": ")" + zipUrl + "\"}");
    }
    void OpenGate() {
        std::lock_guard lock(mutex);
        gateOpen = true;
        gateCv.notify_all();
    }

    void RunUpdate(int localVersion = -1,
                   vorn::HttpLimits limits = {},
                   vorn::InstallLimits install = {}) {
        CModelUpdater updater(QString::fromStdString(client.string() + "/"), host, limits, install);
        ASSERT_TRUE(updater.Start(localVersion));
        updater.WaitForIdle();
    }

    // The archive of version 6: replaces a.bin and sub/b.bin, adds files, ships its ver.ini.
    static std::vector<Entry> Version6() {
        return {{"a.bin", "new a"},     {"sub/", ""},
                {"sub/b.bin", "new b"}, {"deep/x/y.bin", std::string(100000, 'y')},
                {"ver.ini", VerIni(6)}, {"empty.json", ""}};
    }
    Snapshot Version6Snapshot() const {
        Snapshot s = before;
        s["a.bin"] = "new a";
        s["sub/b.bin"] = "new b";
        s["deep/"] = "";
        s["deep/x/"] = "";
        s["deep/x/y.bin"] = std::string(100000, 'y');
        s["ver.ini"] = VerIni(6);
        s["empty.json"] = "";
        return s;
    }
    void ExpectUnchanged() {
        EXPECT_TRUE(Take(models) == before);
        EXPECT_FALSE(fs::exists(client / "models.staging"));
        EXPECT_FALSE(fs::exists(client / "models.zip_temp"));
    }

    vorn::test::TempFolder temp{"vorn-update"};
    fs::path client, models, cwdBefore;
    Snapshot before;
    httplib::Server server;
    std::thread serverThread;
    int port = 0;
    QString host;
    std::string zipUrl;

    std::mutex mutex;
    std::condition_variable gateCv;
    bool gateOpen = true;
    std::string versionDoc = "{}";
    int versionStatus = 200;
    std::chrono::milliseconds versionDelay{0};
    std::string archive;
    int archiveStatus = 200;
    size_t archiveCutAt = std::string::npos;
    int versionRequests = 0;
    int archiveRequests = 0;
    std::vector<std::string> rands;
};

}  // namespace

TEST_F(ModelUpdaterTest, NewerVersionIsInstalledAndThenNotFetchedAgain) {
    archive = BuildZip(Version6());
    ServeVersion(6);
    RunUpdate();
    EXPECT_EQ(archiveRequests, 1);
    EXPECT_TRUE(Take(models) == Version6Snapshot());
    EXPECT_TRUE(fs::exists(client / "models.zip"));
    EXPECT_FALSE(fs::exists(client / "models.zip_temp"));
    EXPECT_FALSE(fs::exists(client / "models.staging"));

    RunUpdate();  // the installed ver.ini now says 6
    EXPECT_EQ(versionRequests, 2);
    EXPECT_EQ(archiveRequests, 1);
}

// The client's state folder removed while the client runs (by a clean-up tool, say) is made
// again: the download and the models live in it.
TEST_F(ModelUpdaterTest, AStateFolderRemovedSinceStartIsMadeAgain) {
    archive = BuildZip(Version6());
    ServeVersion(6);
    fs::remove_all(client);
    RunUpdate();
    Snapshot after = Take(models);
    EXPECT_EQ(after["a.bin"], "new a");
    EXPECT_EQ(after["sub/b.bin"], "new b");
}

TEST_F(ModelUpdaterTest, VersionComparison) {
    archive = BuildZip(Version6());
    ServeVersion(5);  // equal is not newer
    RunUpdate();
    Serve(R"({"modelVer": 5.9, "downloadUrl": ")" + zipUrl + "\"}");
    RunUpdate();
    Serve(R"({"modelVer": -3, "downloadUrl": ")" + zipUrl + "\"}");
    RunUpdate();
    EXPECT_EQ(archiveRequests, 0);
    // A positive argument is the local version itself; ver.ini is not read.
    ServeVersion(6);
    RunUpdate(6);
    EXPECT_EQ(archiveRequests, 0);
    ExpectUnchanged();
    Serve(R"({"modelVer": 6.9, "downloadUrl": ")" + zipUrl + "\"}");
    RunUpdate();
    EXPECT_EQ(archiveRequests, 1);
    EXPECT_TRUE(Take(models) == Version6Snapshot());
}

TEST_F(ModelUpdaterTest, MissingModelVerCountsAsZeroAgainstDefault) {
    archive = BuildZip(Version6());
    Serve(R"({"downloadUrl": ")" + zipUrl + "\"}");
    RunUpdate();  // ver.ini says 5
    EXPECT_EQ(archiveRequests, 0);
    fs::remove(models / "ver.ini");
    before = Take(models);
    RunUpdate(0);  // 0 reads ver.ini with 0 as default: 0 is not newer than 0
    EXPECT_EQ(archiveRequests, 0);
    RunUpdate(-1);  // the page's request: 0 is newer than -1
    EXPECT_EQ(archiveRequests, 1);
    EXPECT_EQ(Take(models)["ver.ini"], VerIni(6));
}

TEST_F(ModelUpdaterTest, NoDownloadWithoutAddress) {
    archive = BuildZip(Version6());
    for (const char* doc :
         {R"({"modelVer": 9})", R"({"modelVer": 9, "downloadUrl": ""})",
          R"({"modelVer": 9, "downloadUrl": null})", R"({"modelVer": "9", "downloadUrl": "x"})",
          "not json", "", R"({"modelVer": 9, "downloadUrl": "file:///etc/passwd"})",
          R"({"modelVer": 9, "downloadUrl": "http://127.0.0.1:1/\nx"})"}) {
        Serve(doc);
        RunUpdate();
    }
    EXPECT_EQ(archiveRequests, 0);
    EXPECT_EQ(versionRequests, 8);
    ExpectUnchanged();
    EXPECT_FALSE(fs::exists(client / "models.zip"));
}

TEST_F(ModelUpdaterTest, RequestsCarryDifferentRand) {
    RunUpdate();
    std::this_thread::sleep_for(20ms);
    RunUpdate();
    ASSERT_EQ(rands.size(), 2u);
    EXPECT_FALSE(rands[0].empty());
    EXPECT_NE(rands[0], rands[1]);
    EXPECT_EQ(std::to_string(std::stoll(rands[0])), rands[0]);  // plain signed decimal
    EXPECT_EQ(CModelUpdater::VersionUrl("h:81", 0x80000001LL),
              "http://h:81/modelVer.json?rand=-2147483647");
    EXPECT_EQ(CModelUpdater::VersionUrl("h", (1LL << 32) + 5), "http://h/modelVer.json?rand=5");
}

TEST_F(ModelUpdaterTest, VersionDocumentBodyHandling) {
    archive = BuildZip(Version6());
    versionStatus = 500;  // an error page is never taken as the document
    ServeVersion(6);
    RunUpdate();
    EXPECT_EQ(archiveRequests, 0);
    versionStatus = 200;
    // Cut at the first NUL.
    Serve(R"({"modelVer": 6, "downloadUrl": ")" + zipUrl + "\"}" + '\0' + "junk");
    RunUpdate();
    EXPECT_EQ(archiveRequests, 1);
    EXPECT_TRUE(Take(models) == Version6Snapshot());
    // A body past 1 MiB is read as its first 1 MiB; here the document fits in it.
    Write(models / "ver.ini", VerIni(5));
    Serve(R"({"modelVer": 6, "downloadUrl": ")" + zipUrl + "\"}" + std::string(3 << 20, ' ') + "]");
    RunUpdate();
    EXPECT_EQ(archiveRequests, 2);
    EXPECT_EQ(Take(models)["ver.ini"], VerIni(6));
}

TEST_F(ModelUpdaterTest, VersionDocumentCutAtOneMiB) {
    archive = BuildZip(Version6());
    Serve(R"({"pad": ")" + std::string(1 << 20, 'p') + R"(", "modelVer": 6, "downloadUrl": ")" +
          zipUrl + "\"}");
    RunUpdate();
    EXPECT_EQ(archiveRequests, 0);
    ExpectUnchanged();
}

TEST_F(ModelUpdaterTest, ErrorStatusLeavesNothing) {
    archive = BuildZip(Version6());  // a valid archive as the error body
    archiveStatus = 500;
    ServeVersion(6);
    RunUpdate();
    EXPECT_EQ(archiveRequests, 1);
    ExpectUnchanged();
    EXPECT_FALSE(fs::exists(client / "models.zip"));
    archiveStatus = 404;
    Write(client / "models.zip", "previous archive");
    RunUpdate();
    ExpectUnchanged();
    std::ifstream in(client / "models.zip");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "previous archive");
}

TEST_F(ModelUpdaterTest, ConnectionResetMidDownload) {
    archive = BuildZip(Version6());
    archiveCutAt = archive.size() / 2;
    ServeVersion(6);
    RunUpdate();
    EXPECT_EQ(archiveRequests, 1);
    ExpectUnchanged();
}

TEST_F(ModelUpdaterTest, TruncatedArchive) {
    archive = BuildZip(Version6());
    archive.resize(archive.size() - 30);
    ServeVersion(6);
    RunUpdate();
    EXPECT_EQ(archiveRequests, 1);
    ExpectUnchanged();
    archive = "this is not a zip archive";
    RunUpdate();
    ExpectUnchanged();
}

TEST_F(ModelUpdaterTest, OneBadEntryInstallsNothing) {
    std::vector<Entry> entries = Version6();
    entries.insert(entries.begin() + 3, Entry{"bad.bin", "BADBADBADBADBADBAD", true});
    archive = BuildZip(entries);
    // The stored data of the entry (its name holds no "BADBAD") is damaged: the CRC no longer
    // matches.
    const size_t data = archive.find("BADBADBADBAD");
    ASSERT_NE(data, std::string::npos);
    archive[data + 4] = 'X';
    ServeVersion(6);
    RunUpdate();
    EXPECT_EQ(archiveRequests, 1);
    ExpectUnchanged();
}

TEST_F(ModelUpdaterTest, FolderOfModelsInTheWayInstallsNothing) {
    std::vector<Entry> entries = Version6();
    entries.push_back({"keep.txt/inner.bin", "a file where a folder must go"});
    archive = BuildZip(entries);
    ServeVersion(6);
    RunUpdate();
    ExpectUnchanged();
}

TEST_F(ModelUpdaterTest, SecondStartWhileRunningIsIgnored) {
    archive = BuildZip(Version6());
    ServeVersion(6);
    {
        std::lock_guard lock(mutex);
        gateOpen = false;
    }
    CModelUpdater updater(QString::fromStdString(client.string() + "/"), host);
    ASSERT_TRUE(updater.Start(-1));
    while (true) {
        std::lock_guard lock(mutex);
        if (versionRequests == 1)
            break;
    }
    EXPECT_FALSE(updater.Start(-1));
    EXPECT_FALSE(updater.Start(3));
    OpenGate();
    updater.WaitForIdle();
    EXPECT_EQ(versionRequests, 1);
    EXPECT_EQ(archiveRequests, 1);
    EXPECT_TRUE(Take(models) == Version6Snapshot());
    EXPECT_TRUE(updater.Start(-1));  // idle again: a new request runs
    updater.WaitForIdle();
    EXPECT_EQ(versionRequests, 2);
}

TEST_F(ModelUpdaterTest, LeftoverStagingIsCleanedAtTheStartOfARun) {
    fs::create_directories(client / "models.staging/sub");
    Write(client / "models.staging/sub/half.bin", "half");
    Write(client / "models.staging/ver.ini", VerIni(99));
    fs::permissions(client / "models.staging/sub", fs::perms::owner_read | fs::perms::owner_exec);
    ServeVersion(5);  // nothing to download: the cleaning does not depend on it
    RunUpdate();
    EXPECT_FALSE(fs::exists(client / "models.staging"));
    ExpectUnchanged();
}

TEST_F(ModelUpdaterTest, InstallsInARowEachFindTheFolderTheLastOneReplaced) {
    // The installer leaves the replaced model folder for its caller to remove; an install that
    // follows at once, with nothing removed in between, must still succeed.
    const vorn::ModelInstaller installer(models, client / "models.staging");
    Write(client / "v6.zip", BuildZip(Version6()));
    std::vector<Entry> v7 = Version6();
    v7[0].data = "newer a";
    v7[4].data = VerIni(7);
    Write(client / "v7.zip", BuildZip(v7));

    ASSERT_TRUE(installer.Install(client / "v6.zip", nullptr));
    EXPECT_TRUE(Take(models) == Version6Snapshot());
    EXPECT_EQ(Take(client / "models.staging")["ver.ini"], VerIni(5));
    ASSERT_TRUE(installer.Install(client / "v7.zip", nullptr));
    Snapshot expected = Version6Snapshot();
    expected["a.bin"] = "newer a";
    expected["ver.ini"] = VerIni(7);
    EXPECT_TRUE(Take(models) == expected);
    EXPECT_EQ(Take(client / "models.staging")["ver.ini"], VerIni(6));
    EXPECT_TRUE(installer.CleanStaging());
    EXPECT_FALSE(fs::exists(client / "models.staging"));
    EXPECT_TRUE(Take(models) == expected);
}

TEST_F(ModelUpdaterTest, SilentServerDoesNotHangTheWorker) {
    versionDelay = 4s;
    ServeVersion(6);
    vorn::HttpLimits limits;
    limits.lowSpeedSeconds = 1;
    limits.lowSpeedBytesPerSecond = 1;
    const auto start = std::chrono::steady_clock::now();
    RunUpdate(-1, limits);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms);
    EXPECT_EQ(archiveRequests, 0);
    ExpectUnchanged();
}

TEST_F(ModelUpdaterTest, KilledDuringExtractionLeavesModelsUnchangedAndNextRunRepairs) {
    // Many stored entries make an extraction that lasts long enough to be interrupted.
    std::vector<Entry> entries;
    std::string block(256 * 1024, '\0');
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 7 + (i >> 9));
    entries.push_back({"a.bin", "new a"});
    for (int i = 0; i < 240; ++i)
        entries.push_back({"shards/s" + std::to_string(i) + ".bin", block, true});
    entries.push_back({"ver.ini", VerIni(6), false});
    archive = BuildZip(entries);
    ServeVersion(6);

    const std::string folderArg = client.string() + "/";
    const std::string hostArg = host.toStdString();
    char* argv[] = {const_cast<char*>(VORN_UPDATE_RUNNER), const_cast<char*>(folderArg.c_str()),
                    const_cast<char*>(hostArg.c_str()), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, VORN_UPDATE_RUNNER, nullptr, nullptr, argv, environ), 0);
    // Wait until extraction has written a few files into staging, then kill without warning.
    const fs::path shards = client / "models.staging/shards";
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    bool started = false;
    while (!started && std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        auto it = fs::directory_iterator(shards, ec);
        int n = 0;
        for (; !ec && it != fs::directory_iterator() && n < 5; it.increment(ec))
            ++n;
        started = n >= 5;
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(started) << "the update never reached extraction";
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(Take(models) == before);
    EXPECT_TRUE(fs::exists(client / "models.staging"));

    RunUpdate();
    EXPECT_FALSE(fs::exists(client / "models.staging"));
    Snapshot after = Take(models);
    EXPECT_EQ(after["ver.ini"], VerIni(6));
    EXPECT_EQ(after["a.bin"], "new a");
    EXPECT_EQ(after["keep.txt"], "not in any archive");
    EXPECT_EQ(after.size(), before.size() + 1 + 240);
    EXPECT_TRUE(after["shards/s239.bin"] == block);
}

TEST_F(ModelUpdaterTest, RefusedEntriesAreLeftOutAndTheRestInstalls) {
    std::vector<Entry> entries = Version6();
    entries.insert(entries.begin(), Entry{"../climb.bin", "x"});
    entries.insert(entries.begin() + 2, Entry{".", "x"});
    entries.push_back({"bz.bin", "BZh91AY&SY", true});
    entries.push_back({std::string(300, 'n'), "x"});
    archive = BuildZip(entries);
    // minizip writes no other method: bz.bin becomes a bzip2 entry (12) in both its headers.
    for (size_t at = archive.find("bz.bin"); at != std::string::npos;
         at = archive.find("bz.bin", at + 1)) {
        if (at >= 30 && archive.compare(at - 30, 4, "PK\3\4") == 0)
            archive[at - 30 + 8] = 12;
        if (at >= 46 && archive.compare(at - 46, 4, "PK\1\2") == 0)
            archive[at - 46 + 10] = 12;
    }
    ServeVersion(6);
    Warnings warnings;
    RunUpdate();
    EXPECT_TRUE(Take(models) == Version6Snapshot());
    EXPECT_FALSE(fs::exists(client / "climb.bin"));
    EXPECT_EQ(warnings.Count("left out"), 4);
    RunUpdate();  // the new ver.ini holds: nothing is fetched again
    EXPECT_EQ(archiveRequests, 1);
}

TEST_F(ModelUpdaterTest, LaterEntryOfTheSameNameWins) {
    archive = BuildZip({{"dup.bin", "first"},
                        {"dup.bin", "second"},
                        {"./dup.bin", "third"},
                        {"ver.ini", VerIni(6)}});
    ServeVersion(6);
    RunUpdate();
    EXPECT_EQ(Take(models)["dup.bin"], "third");
    EXPECT_EQ(Take(models)["ver.ini"], VerIni(6));
}

TEST_F(ModelUpdaterTest, OverlappingEntriesAreRefused) {
    archive = CorpusArchive("overlap_shared_local.zip");
    ASSERT_FALSE(archive.empty());
    ServeVersion(6);
    Warnings warnings;
    RunUpdate();
    EXPECT_EQ(archiveRequests, 1);
    ExpectUnchanged();
    EXPECT_EQ(warnings.Count("overlap"), 1);
}

// What a browser's URL parser would send for an address written as a person writes it; what
// cannot be a URL at all is not sent anywhere.
TEST(RequestUrl, EncodesWhatAUrlParserEncodesAndRefusesWhatIsNoUrl) {
    const std::pair<std::string, std::string> encoded[] = {
        {"http://h/models v2.zip", "http://h/models%20v2.zip"},
        {" http://h:8080/a b/c.zip?v=1 2&n=\"x\"#p q ",
         "http://h:8080/a%20b/c.zip?v=1%202&n=%22x%22#p%20q"},
        {"http://h/\xe6\xa8\xa1\xe5\x9e\x8b.zip", "http://h/%E6%A8%A1%E5%9E%8B.zip"},
        {"http://h/a<b>{c}`d^.zip?'q'", "http://h/a%3Cb%3E%7Bc%7D%60d%5E.zip?%27q%27"},
        {"http://h\\dir\\m.zip", "http://h/dir/m.zip"},
        {"http://u s:p@w@h/m.zip", "http://u%20s:p%40w@h/m.zip"},
        {"http://[::1]:81/m%20v.zip", "http://[::1]:81/m%20v.zip"},
        {"https://h/already%41encoded+plus.zip", "https://h/already%41encoded+plus.zip"},
    };
    for (const auto& [address, url] : encoded)
        EXPECT_EQ(vorn::RequestUrl(address), url) << address;
    for (const std::string address : {"http://h h/m.zip", "http:///m.zip", "http://h:80x/m.zip",
                                      "http://h/m\n.zip", "http://h<>/m.zip", "http://h:123456/"})
        EXPECT_EQ(vorn::RequestUrl(address), std::nullopt) << address;
}

TEST_F(ModelUpdaterTest, AnAddressWithSpacesAndNonAsciiNamesDownloads) {
    archive = BuildZip(Version6());
    Serve(R"({"modelVer": 6, "downloadUrl": "http://127.0.0.1:)" + std::to_string(port) +
          "/models v2 \xe6\xa8\xa1\xe5\x9e\x8b.zip\"}");
    RunUpdate();
    EXPECT_EQ(archiveRequests, 1);
    EXPECT_TRUE(Take(models) == Version6Snapshot());
}

TEST_F(ModelUpdaterTest, Zip64ArchivesInstall) {
    archive = CorpusArchive("zip64_infozip.zip");
    ServeVersion(6);
    RunUpdate();
    Snapshot after = Take(models);
    EXPECT_EQ(after["a.txt"], "hello\n");
    EXPECT_EQ(after["d/b.bin"].size(), 70000u);

    archive = CorpusArchive("zip64_python.zip");  // ships Ver=8
    ServeVersion(8);
    RunUpdate();
    after = Take(models);
    EXPECT_EQ(after["ver.ini"], "[Config]\nVer=8\n");
    EXPECT_EQ(after["p/weights.bin"].size(), 50000u);
}

TEST_F(ModelUpdaterTest, SizeLimitRefusesABombBeforeWritingAndCapsTheDownload) {
    Write(client / "config.ini", "[Config]\nModelLimitMB=512\n");
    archive = CorpusArchive("bomb_1gib.zip");  // 1 MB that unpacks to 1 GiB
    ASSERT_GT(archive.size(), 1000000u);
    ServeVersion(6);
    Warnings warnings;
    RunUpdate();
    ExpectUnchanged();
    EXPECT_EQ(warnings.Count("unpacks to 1073741824 bytes, more than the limit"), 1);

    // 2 MB of data that does not compress, against a 1 MB limit: the download itself stops.
    Write(client / "config.ini", "[Config]\nModelLimitMB=1\n");
    fs::remove(client / "models.zip");
    std::string noise(2 << 20, '\0');
    uint32_t x = 1;
    for (char& c : noise) {
        x = x * 1664525u + 1013904223u;
        c = char(x >> 24);
    }
    archive = BuildZip({{"noise.bin", noise, true}, {"ver.ini", VerIni(6)}});
    RunUpdate();
    ExpectUnchanged();
    EXPECT_FALSE(fs::exists(client / "models.zip"));
    EXPECT_EQ(warnings.Count("larger than the size limit"), 1);
}

TEST_F(ModelUpdaterTest, FreeSpaceMarginIsKept) {
    archive = BuildZip(Version6());  // about 100 kB unpacked
    ServeVersion(6);
    vorn::InstallLimits install;
    install.freeSpaceMargin = 1 << 20;
    fs::path probed;
    install.freeSpace = [&probed](const fs::path& folder) {
        probed = folder;
        return std::optional<uint64_t>((1 << 20) + 50000);
    };
    Warnings warnings;
    RunUpdate(-1, {}, install);
    ExpectUnchanged();
    EXPECT_EQ(warnings.Count("must stay free"), 1);
    EXPECT_EQ(probed.parent_path(), client);

    install.freeSpace = [](const fs::path&) { return std::optional<uint64_t>((1 << 20) + 200000); };
    RunUpdate(-1, {}, install);
    EXPECT_TRUE(Take(models) == Version6Snapshot());
}

// The same against the system's own figure, on a 4 MiB file system (needs the right to mount).
TEST_F(ModelUpdaterTest, FreeSpaceOfARealSmallFileSystem) {
    const fs::path small = client / "small";
    fs::create_directories(small);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (" << strerror(errno) << ")";
    struct Unmount {
        fs::path path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};
    client = small;
    models = small / "models";
    fs::create_directories(models);
    Write(models / "ver.ini", VerIni(5));
    before = Take(models);
    vorn::InstallLimits install;
    install.freeSpaceMargin = 1 << 20;
    // 3 MiB that compresses to little: it fits the file system but not with the margin.
    archive = BuildZip({{"big.bin", std::string(3 << 20, 'z')}, {"ver.ini", VerIni(6)}});
    ServeVersion(6);
    Warnings warnings;
    RunUpdate(-1, {}, install);
    ExpectUnchanged();
    EXPECT_EQ(warnings.Count("must stay free"), 1);
    archive = BuildZip(Version6());
    RunUpdate(-1, {}, install);
    EXPECT_EQ(Take(models)["ver.ini"], VerIni(6));
}

TEST_F(ModelUpdaterTest, TricklingDownloadEndsAndTheNextUpdateRuns) {
    Serve(R"({"modelVer": 6, "downloadUrl": "http://127.0.0.1:)" + std::to_string(port) +
          "/trickle.zip\"}");
    vorn::HttpLimits limits;
    limits.minAverageBytesPerSecond = 1000;
    limits.averageGraceSeconds = 1;
    Warnings warnings;
    RunUpdate(-1, limits);
    EXPECT_EQ(archiveRequests, 1);
    ExpectUnchanged();
    EXPECT_EQ(warnings.Count("minimum average speed"), 1);

    archive = BuildZip(Version6());
    ServeVersion(6);
    RunUpdate(-1, limits);
    EXPECT_TRUE(Take(models) == Version6Snapshot());
}

TEST_F(ModelUpdaterTest, LinkPlantedAtTheDownloadFileIsNeverWrittenThrough) {
    const fs::path victim = client / "victim.txt";
    Write(victim, "precious");
    fs::create_symlink(victim, client / "models.zip_temp");
    archive = BuildZip(Version6());
    archiveStatus = 500;  // a failing download must not empty it either
    ServeVersion(6);
    RunUpdate();
    std::ifstream first(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(first), {}), "precious");

    fs::remove(client / "models.zip_temp");
    fs::create_symlink(victim, client / "models.zip_temp");
    archiveStatus = 200;
    RunUpdate();
    std::ifstream second(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(second), {}), "precious");
    EXPECT_TRUE(Take(models) == Version6Snapshot());
}

TEST_F(ModelUpdaterTest, WhatOnlyTheModelFolderHoldsIsKeptAsItWasAndNoLinkIsFollowed) {
    const fs::path outside = client / "outside";
    fs::create_directories(outside);
    Write(outside / "target.bin", "outside data");
    fs::create_symlink(outside, models / "linked-folder");
    fs::create_symlink(outside / "target.bin", models / "sub/linked.bin");
    fs::create_directories(models / "own/inner");
    Write(models / "own/inner/c.bin", "only here");
    fs::permissions(models / "own",
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    fs::permissions(models, fs::perms::owner_all);
    const auto keptLinks = fs::hard_link_count(models / "keep.txt");
    archive = BuildZip(Version6());
    ServeVersion(6);
    RunUpdate();
    EXPECT_EQ(Take(models)["ver.ini"], VerIni(6));
    EXPECT_EQ(Take(models)["own/inner/c.bin"], "only here");
    EXPECT_EQ(Take(models)["keep.txt"], "not in any archive");
    EXPECT_EQ(fs::hard_link_count(models / "keep.txt"), keptLinks);
    EXPECT_EQ(fs::read_symlink(models / "linked-folder"), outside);
    EXPECT_EQ(fs::read_symlink(models / "sub/linked.bin"), outside / "target.bin");
    EXPECT_EQ(fs::status(models / "own").permissions(),
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    EXPECT_EQ(fs::status(models).permissions(), fs::perms::owner_all);

    // A link where the archive puts a folder or a file: the folder is refused, the file
    // replaces the link; nothing is written through either.
    before = Take(models);
    archive = BuildZip({{"linked-folder/x.bin", "through the link"}, {"ver.ini", VerIni(7)}});
    ServeVersion(7);
    RunUpdate();
    EXPECT_TRUE(Take(models) == before);
    EXPECT_FALSE(fs::exists(outside / "x.bin"));
    archive = BuildZip({{"sub/linked.bin", "replaces the link"}, {"ver.ini", VerIni(7)}});
    RunUpdate();
    EXPECT_FALSE(fs::is_symlink(models / "sub/linked.bin"));
    EXPECT_EQ(Take(models)["sub/linked.bin"], "replaces the link");
    EXPECT_EQ(Take(outside)["target.bin"], "outside data");
    EXPECT_FALSE(fs::exists(client / "models.staging"));
}

TEST_F(ModelUpdaterTest, ModelFolderThatIsALinkIsUpdatedThroughIt) {
    const fs::path real = client / "elsewhere";
    fs::rename(models, real);
    fs::create_symlink(real, models);
    archive = BuildZip(Version6());
    ServeVersion(6);
    RunUpdate();
    EXPECT_TRUE(fs::is_symlink(models));
    EXPECT_TRUE(Take(real) == Version6Snapshot());
    EXPECT_FALSE(fs::exists(client / "models.staging"));
}

TEST_F(ModelUpdaterTest, AReaderSeesOneVersionWhole) {
    // Enough entries for the install to last while the reader looks many times.
    std::vector<Entry> entries = Version6();
    for (int i = 0; i < 400; ++i)
        entries.push_back({"many/m" + std::to_string(i) + ".json", std::to_string(i)});
    archive = BuildZip(entries);
    ServeVersion(6);
    std::atomic<bool> done{false};
    std::atomic<int> mixed{0}, looks{0};
    std::thread reader([&] {
        auto readAll = [](int folder, const char* name) {
            std::string data;
            const int fd = openat(folder, name, O_RDONLY | O_CLOEXEC);
            char buf[64];
            for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;)
                data.append(buf, static_cast<size_t>(n));
            if (fd >= 0)
                close(fd);
            return data;
        };
        while (!done) {
            // One folder, as a request resolves it: its version file and a model file agree.
            const int folder = open(models.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folder < 0)
                continue;
            const bool v6 = readAll(folder, "ver.ini") == VerIni(6);
            const bool a6 = readAll(folder, "a.bin") == "new a";
            const bool b6 = readAll(folder, "sub/b.bin") == "new b";
            close(folder);
            mixed += v6 != a6 || v6 != b6;
            ++looks;
        }
    });
    RunUpdate();
    done = true;
    reader.join();
    EXPECT_EQ(Take(models)["ver.ini"], VerIni(6));
    EXPECT_GT(looks.load(), 0);
    EXPECT_EQ(mixed.load(), 0);
}

TEST_F(ModelUpdaterTest, FilesAnUpdateLeavesAsTheyWereAreLinkedNotWrittenAgain) {
    archive = BuildZip(Version6());
    ServeVersion(6);
    RunUpdate();
    auto inode = [this](const char* name) {
        struct stat st {};
        EXPECT_EQ(lstat((models / name).c_str(), &st), 0) << name;
        return st.st_ino;
    };
    const auto a = inode("a.bin"), b = inode("sub/b.bin"), y = inode("deep/x/y.bin");
    const auto e = inode("empty.json");
    const auto archiveTime = fs::last_write_time(models / "a.bin");
    fs::last_write_time(models / "empty.json", archiveTime + 1h);  // same bytes, other time

    std::vector<Entry> v7 = Version6();
    v7[2].data = "NEW b";  // sub/b.bin: other bytes of the same size
    v7[4].data = VerIni(7);
    archive = BuildZip(v7);
    ServeVersion(7);
    RunUpdate();
    EXPECT_EQ(inode("a.bin"), a);
    EXPECT_EQ(inode("deep/x/y.bin"), y);
    EXPECT_NE(inode("sub/b.bin"), b);
    EXPECT_NE(inode("empty.json"), e);
    EXPECT_EQ(fs::last_write_time(models / "empty.json"), archiveTime);
    EXPECT_EQ(fs::hard_link_count(models / "a.bin"), 1u);
    Snapshot expected = Version6Snapshot();
    expected["sub/b.bin"] = "NEW b";
    expected["ver.ini"] = VerIni(7);
    EXPECT_TRUE(Take(models) == expected);

    // A recorded CRC that the data does not give refuses the install, also where the file the
    // data gives is already there.
    v7[4].data = VerIni(8);
    archive = BuildZip(v7);
    for (size_t at = archive.find("a.bin"); at != std::string::npos;
         at = archive.find("a.bin", at + 1)) {
        if (at >= 30 && archive.compare(at - 30, 4, "PK\3\4") == 0)
            archive[at - 30 + 14] ^= 1;
        if (at >= 46 && archive.compare(at - 46, 4, "PK\1\2") == 0)
            archive[at - 46 + 16] ^= 1;
    }
    ServeVersion(8);
    RunUpdate();
    EXPECT_TRUE(Take(models) == expected);
    EXPECT_FALSE(fs::exists(client / "models.staging"));
}
