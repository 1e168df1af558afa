#include "models/serving/ModelFileCache.h"
#include "models/serving/ModelServer.h"
#include "models/serving/ModelUrl.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <fstream>
#include <functional>

using namespace vorn;
namespace fs = std::filesystem;

namespace {

class ModelServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "vorn-serve-XXXXXX").string();
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        folder = templ;
        ASSERT_TRUE(server.Start());
        ASSERT_GT(server.Port(), 0);
        client = std::make_unique<httplib::Client>("127.0.0.1", server.Port());
    }
    void TearDown() override {
        server.Stop();
        fs::remove_all(folder);
    }

    void Put(const std::string& name, const std::string& data) {
        fs::path p = folder / fs::path(std::u8string(name.begin(), name.end()));
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
        ASSERT_TRUE(cache.Load(folder, name));
    }
    std::string PathFor(const std::string& name) {
        return "/" + server.Token() + "/" + EncodeModelName(name);
    }

    fs::path folder;
    ModelFileCache cache;
    ModelServer server{cache};
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

    EXPECT_EQ(server.UrlFor("face/model.json"),
              "http://127.0.0.1:" + std::to_string(server.Port()) + PathFor("face/model.json"));
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

TEST_F(ModelServerTest, TokenRequiredAndOnlyCachedNamesServed) {
    Put("a.json", "{}");
    // On disk below the model folder, but never asked for through the interceptor.
    std::ofstream(folder / "notcached.json") << "{}";
    const std::vector<std::string> refused = {
        "/a.json",
        "/" + std::string(server.Token().size(), '0') + "/a.json",
        "/" + server.Token() + "x/a.json",
        "/" + server.Token() + "/notcached.json",
        "/" + server.Token() + "/",
        "/" + server.Token(),
        "/" + server.Token() + "/x/../a.json",
        "/" + server.Token() + "/%2E%2E/a.json",
        "/",
    };
    for (const std::string& path : refused) {
        auto res = client->Get(path.c_str());
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 404) << path;
        EXPECT_TRUE(res->body.empty() || res->body.find("{}") == std::string::npos) << path;
    }
    EXPECT_EQ(server.Token().size(), 32u);
    ModelServer other(cache);
    EXPECT_NE(other.Token(), server.Token());
}

TEST_F(ModelServerTest, StopsAndRestarts) {
    Put("a.json", "{}");
    server.Stop();
    EXPECT_FALSE(server.IsRunning());
    server.Stop();
    ASSERT_TRUE(server.Start());
    httplib::Client again("127.0.0.1", server.Port());
    auto res = again.Get(PathFor("a.json").c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}
