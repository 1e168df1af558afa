#include "models/serving/ModelServer.h"
#include "models/serving/ModelUrl.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vorn;
namespace fs = std::filesystem;

namespace {

class ModelServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = temp.Root();
        server.emplace(ModelFolder(folder), Limits());
        ASSERT_TRUE(server->Start());
        ASSERT_GT(server->Port(), 0);
        client = std::make_unique<httplib::Client>("127.0.0.1", server->Port());
    }
    void TearDown() override { server->Stop(); }

    void Put(const std::string& name, const std::string& data) {
        fs::path p = folder / fs::path(std::u8string(name.begin(), name.end()));
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
    }
    std::string PathFor(const std::string& name) {
        return "/" + server->Token() + "/" + EncodeModelName(name);
    }

    virtual ModelServer::Limits Limits() const { return {}; }

    vorn::test::TempFolder temp{"vorn-serve"};
    fs::path folder;
    std::optional<ModelServer> server;
    std::unique_ptr<httplib::Client> client;
};

}  // namespace

TEST_F(ModelServerTest, ServesCachedFilesWithTypeLengthAndCors) {
    Put("face/model.json", R"({"a":1})");
    Put("\xE6\xA8\xA1 a+b.bin", std::string("\0\1\2", 3));
    auto res = client->Get(PathFor("face/model.json").c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, R"({"a":1})");
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(res->get_header_value("Content-Length"), "7");
    EXPECT_EQ(res->get_header_value("Access-Control-Allow-Origin"), "*");

    res = client->Get(PathFor("\xE6\xA8\xA1 a+b.bin").c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, std::string("\0\1\2", 3));
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/octet-stream");

    // Bytes go out as stored even to a client that accepts compressed bodies.
    client->set_decompress(false);
    res = client->Get(PathFor("face/model.json").c_str(), {{"Accept-Encoding", "gzip, br"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, R"({"a":1})");
    EXPECT_EQ(res->get_header_value("Content-Encoding"), "");

    EXPECT_EQ(server->UrlFor("face/model.json"),
              "http://127.0.0.1:" + std::to_string(server->Port()) + PathFor("face/model.json"));
}

TEST_F(ModelServerTest, ZeroLengthAndLargeFiles) {
    Put("empty.txt", "");
    std::string big(5 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 131 + (i >> 12));
    Put("big.bin", big);
    auto res = client->Get(PathFor("empty.txt").c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "");
    EXPECT_EQ(res->get_header_value("Content-Length"), "0");
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain");

    res = client->Get(PathFor("big.bin").c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Length"), std::to_string(big.size()));
    EXPECT_TRUE(res->body == big);
}

TEST_F(ModelServerTest, HeadAnswersHeadersWithoutBody) {
    Put("m.wasm", "0123456789");
    auto res = client->Head(PathFor("m.wasm").c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Length"), "10");
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/wasm");
    EXPECT_TRUE(res->body.empty());
}

TEST_F(ModelServerTest, OtherMethodsAre405) {
    Put("a.json", "{}");
    const std::string path = PathFor("a.json");
    const std::vector<std::function<httplib::Result()>> requests = {
        [&] { return client->Post(path.c_str(), "x", "text/plain"); },
        [&] { return client->Put(path.c_str(), "x", "text/plain"); },
        [&] { return client->Delete(path.c_str()); },
        [&] { return client->Patch(path.c_str(), "x", "text/plain"); },
        [&] { return client->Options(path.c_str()); },
    };
    for (const auto& request : requests) {
        auto res = request();
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 405);
        EXPECT_EQ(res->get_header_value("Allow"), "GET, HEAD");
    }
}

TEST_F(ModelServerTest, TokenRequiredAndOnlyRegularFilesBelowTheFolderServed) {
    Put("a.json", "{}");
    fs::create_symlink(folder / "a.json", folder / "link.json");
    fs::create_symlink("/etc/passwd", folder / "pw");
    fs::create_directories(folder / "dir.json");
    const std::vector<std::string> refused = {
        "/a.json",
        "/" + std::string(server->Token().size(), '0') + "/a.json",
        "/" + server->Token() + "x/a.json",
        "/" + server->Token() + "/link.json",
        "/" + server->Token() + "/pw",
        "/" + server->Token() + "/dir.json",
        "/" + server->Token() + "/",
        "/" + server->Token(),
        "/" + server->Token() + "/x/../a.json",
        "/" + server->Token() + "/%2E%2E/a.json",
        "/",
    };
    for (const std::string& path : refused) {
        auto res = client->Get(path.c_str());
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 404) << path;
        EXPECT_TRUE(res->body.empty() || res->body.find("{}") == std::string::npos) << path;
    }
    EXPECT_EQ(server->Token().size(), 32u);
    ModelServer other{ModelFolder(folder)};
    EXPECT_NE(other.Token(), server->Token());
}

TEST_F(ModelServerTest, StopsAndRestarts) {
    Put("a.json", "{}");
    server->Stop();
    EXPECT_FALSE(server->IsRunning());
    server->Stop();
    ASSERT_TRUE(server->Start());
    httplib::Client again("127.0.0.1", server->Port());
    auto res = again.Get(PathFor("a.json").c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}

namespace {

long VmRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

// Fetches path and keeps only the byte count and the last byte, so the test holds no copy.
struct Drained {
    int status = -1;
    size_t bytes = 0;
    char last = 0;
};
Drained Drain(httplib::Client& client, const std::string& path) {
    Drained d;
    auto res = client.Get(path.c_str(), [&](const char* data, size_t n) {
        d.bytes += n;
        d.last = n > 0 ? data[n - 1] : d.last;
        return true;
    });
    if (res)
        d.status = res->status;
    return d;
}

}  // namespace

TEST_F(ModelServerTest, ReplacedFileIsServedWithItsNewContent) {
    Put("face/model.json", R"({"v":1})");
    EXPECT_EQ(client->Get(PathFor("face/model.json").c_str())->body, R"({"v":1})");
    // As an install replaces it: renamed over the old name.
    Put("face/model.json.part", R"({"v":2,"longer":true})");
    fs::rename(folder / "face/model.json.part", folder / "face/model.json");
    EXPECT_EQ(client->Get(PathFor("face/model.json").c_str())->body, R"({"v":2,"longer":true})");
}

TEST_F(ModelServerTest, ServingKeepsNoCopyOfTheFiles) {
    constexpr size_t kSize = 24u << 20;
    for (int i = 0; i < 4; ++i)
        Put("shard" + std::to_string(i) + ".bin", std::string(kSize, static_cast<char>('a' + i)));
    const long before = VmRssKb();
    for (int i = 0; i < 4; ++i) {
        const Drained d = Drain(*client, PathFor("shard" + std::to_string(i) + ".bin"));
        EXPECT_EQ(d.status, 200);
        EXPECT_EQ(d.bytes, kSize);
        EXPECT_EQ(d.last, 'a' + i);
    }
    // 96 MB went out; what stays resident is a few pieces of it, not the files.
    EXPECT_LT(VmRssKb() - before, 16 * 1024);
}

TEST_F(ModelServerTest, FileLargerThanMemoryIsServedInPieces) {
    const uint64_t size = 200ull << 30;  // 200 GiB, sparse
    Put("huge.bin", "");
    ASSERT_EQ(truncate((folder / "huge.bin").c_str(), static_cast<off_t>(size)), 0);
    auto head = client->Head(PathFor("huge.bin").c_str());
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(size));
    auto tail = client->Get(PathFor("huge.bin").c_str(),
                            {{"Range", "bytes=" + std::to_string(size - 100) + "-"}});
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->status, 206);
    EXPECT_EQ(tail->body, std::string(100, '\0'));
    // A reader that gives up early ends its response; the server carries on.
    size_t got = 0;
    auto cut = client->Get(PathFor("huge.bin").c_str(), [&](const char*, size_t n) {
        got += n;
        return got < (8u << 20);
    });
    EXPECT_FALSE(cut);
    Put("small.json", "{}");
    EXPECT_EQ(client->Get(PathFor("small.json").c_str())->body, "{}");
}

namespace {

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

class SlowConnectionsTest : public ModelServerTest {
protected:
    ModelServer::Limits Limits() const override {
        ModelServer::Limits limits;
        limits.requestDeadline = std::chrono::milliseconds(1500);
        return limits;
    }
};

}  // namespace

TEST_F(SlowConnectionsTest, DawdlingConnectionsDoNotHoldUpThePage) {
    Put("m.bin", std::string(1 << 20, 'm'));
    // 32 connections that send a request a byte at a time and never finish it, 32 that send
    // nothing, and 32 complete requests without the token.
    std::vector<int> dripping, idle;
    for (int i = 0; i < 32; ++i) {
        dripping.push_back(Connect(server->Port()));
        idle.push_back(Connect(server->Port()));
        ASSERT_GE(dripping.back(), 0);
        ASSERT_GE(idle.back(), 0);
    }
    std::atomic<bool> done{false};
    std::atomic<int> cut{0};
    std::thread drip([&] {
        const std::string request = "GET /" + server->Token() + "/m.bin HTTP/1.1\r\nX-Pad: ";
        for (size_t i = 0; !done.load(); ++i) {
            for (int fd : dripping) {
                const char byte = i < request.size() ? request[i] : 'x';
                if (send(fd, &byte, 1, MSG_NOSIGNAL) != 1 && i > 0)
                    ++cut;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::vector<std::unique_ptr<httplib::Client>> strangers;
    for (int i = 0; i < 32; ++i) {
        strangers.push_back(std::make_unique<httplib::Client>("127.0.0.1", server->Port()));
        EXPECT_EQ(strangers.back()->Get("/elsewhere")->status, 404);
    }
    // The page's requests are answered at once; without the fix they waited behind the drip.
    client->set_connection_timeout(std::chrono::seconds(1));
    client->set_read_timeout(std::chrono::seconds(1));
    for (int i = 0; i < 10; ++i) {
        auto res = client->Get(PathFor("m.bin").c_str());
        ASSERT_TRUE(res) << "request " << i;
        EXPECT_EQ(res->body.size(), 1u << 20);
    }
    // Unfinished requests are closed at their deadline.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    done = true;
    drip.join();
    for (int fd : dripping) {
        char byte;
        EXPECT_EQ(recv(fd, &byte, 1, MSG_DONTWAIT), 0) << "still open";
        close(fd);
    }
    for (int fd : idle)
        close(fd);
}

TEST_F(ModelServerTest, RequestsWithNulBytesAreAnsweredAtOnce) {
    Put("a.bin", "a");
    client->set_read_timeout(std::chrono::seconds(2));
    auto res = client->Get((PathFor("a.bin") + "%00").c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);
    res = client->Get((PathFor("a.bin") + "?x=%00").c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, "a");
    // A raw NUL in the request line.
    const int fd = Connect(server->Port());
    ASSERT_GE(fd, 0);
    const std::string request = "GET /" + server->Token() + std::string("/a.bin\0x", 8) +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    timeval wait{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char answer[64] = {};
    ASSERT_GT(recv(fd, answer, sizeof answer - 1, 0), 12);
    EXPECT_EQ(std::string(answer, 12), "HTTP/1.1 400");
    close(fd);
}
