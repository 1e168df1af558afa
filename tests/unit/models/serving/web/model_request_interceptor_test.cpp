#include "models/serving/ModelUrl.h"
#include "models/serving/web/CModelRequestInterceptor.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <fstream>

using vorn::CModelRequestInterceptor;

namespace fs = std::filesystem;

namespace {

class ModelRequestInterceptorTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = temp.Root();
        folder = root / "models";
        fs::create_directories(folder);
        Write("face/model.json", R"({"face":1})");
        Write("a+b.bin", "plus");
        Write("a b.bin", "space");
        Write("\xE6\xA8\xA1\xE5\x9E\x8B.bin", "utf8");
        Write("empty.bin", "");
        std::ofstream(root / "secret.txt") << "outside";
        server.emplace(vorn::ModelFolder(folder));
        interceptor = std::make_unique<CModelRequestInterceptor>(
            vorn::BuildModelUrlPrefixes("static.example", "cdn.example", "res.example",
                                        "exam.example:8080"),
            *server);
    }
    void TearDown() override { server->Stop(); }

    void Write(const std::string& name, const std::string& data) {
        fs::path p = folder / fs::path(std::u8string(name.begin(), name.end()));
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
    }

    // What the engine would receive after following the redirect; nullopt when not redirected.
    std::optional<std::string> Fetch(const char* url) {
        const QUrl target = interceptor->RedirectFor(QUrl(QString::fromUtf8(url)));
        if (target.isEmpty())
            return std::nullopt;
        EXPECT_EQ(target.host(), "127.0.0.1");
        EXPECT_EQ(target.port(), server->Port());
        httplib::Client client("127.0.0.1", server->Port());
        auto res = client.Get(
            target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString().c_str());
        if (!res || res->status != 200)
            return "HTTP failure";
        return res->body;
    }

    vorn::test::TempFolder temp{"vorn-intercept"};
    fs::path root, folder;
    std::optional<vorn::ModelServer> server;
    std::unique_ptr<CModelRequestInterceptor> interceptor;
};

}  // namespace

TEST_F(ModelRequestInterceptorTest, ModelUrlsAreAnsweredFromTheFolder) {
    EXPECT_FALSE(Fetch("http://static.example/other/face/model.json"));
    EXPECT_FALSE(server->IsRunning());  // started only by the first local answer

    EXPECT_EQ(Fetch("https://static.example/models/face/model.json?v=3"), R"({"face":1})");
    EXPECT_TRUE(server->IsRunning());
    EXPECT_EQ(Fetch("http://static.example/models/face/model.json#x"), R"({"face":1})");
    EXPECT_EQ(Fetch("http://cdn.example/models/a%2Bb.bin"), "plus");
    EXPECT_EQ(Fetch("https://res.example/models/a+b.bin"), "space");
    EXPECT_EQ(Fetch("http://exam.example:8080/test/models/a%20b.bin"), "space");
    EXPECT_EQ(Fetch("https://exam.example:8080/test/models/\xE6\xA8\xA1\xE5\x9E\x8B.bin"), "utf8");
    EXPECT_EQ(Fetch("https://exam.example:8080/test/models/%E6%A8%A1%E5%9E%8B.bin"), "utf8");
    EXPECT_EQ(Fetch("http://cdn.example/models/empty.bin"), "");
}

TEST_F(ModelRequestInterceptorTest, OtherRequestsGoToTheNetwork) {
    EXPECT_FALSE(Fetch("http://cdn.example/models/missing.bin"));
    EXPECT_FALSE(Fetch("http://cdn.example/models/../secret.txt"));
    EXPECT_FALSE(Fetch("http://cdn.example/models/%2E%2E/secret.txt"));
    EXPECT_FALSE(Fetch("http://cdn.example/models/face"));  // a folder
    EXPECT_FALSE(Fetch("http://cdn.example/models/"));
    EXPECT_FALSE(Fetch("https://cdn.example/models/a+b.bin"));       // https is not that host's
    EXPECT_FALSE(Fetch("http://exam.example/test/models/a+b.bin"));  // wrong port
    EXPECT_FALSE(Fetch("http://elsewhere.example/models/a+b.bin"));
    // Links are not followed: neither one to a file outside nor a linked folder.
    fs::create_symlink(root / "secret.txt", folder / "pw");
    fs::create_symlink(root, folder / "up");
    EXPECT_FALSE(Fetch("http://cdn.example/models/pw"));
    EXPECT_FALSE(Fetch("http://cdn.example/models/up/secret.txt"));
    EXPECT_FALSE(server->IsRunning());
}

TEST_F(ModelRequestInterceptorTest, ReplacedFileIsServedWithItsNewContent) {
    EXPECT_EQ(Fetch("http://cdn.example/models/face/model.json"), R"({"face":1})");
    Write("face/model.json.part", R"({"face":2})");
    fs::rename(folder / "face/model.json.part", folder / "face/model.json");
    EXPECT_EQ(Fetch("http://cdn.example/models/face/model.json?v=4"), R"({"face":2})");
    // A missing file that appears later is found then.
    EXPECT_FALSE(Fetch("http://cdn.example/models/late.bin"));
    Write("late.bin", "late");
    EXPECT_EQ(Fetch("http://cdn.example/models/late.bin"), "late");
}

TEST_F(ModelRequestInterceptorTest, OnlyTheLoopbackServersOwnUrlsAreLocal) {
    // Page requests to these are signed; requests to the model server must not be.
    EXPECT_FALSE(interceptor->IsLocalServerUrl(QUrl("http://127.0.0.1:80/")));  // not started
    const QUrl served = interceptor->RedirectFor(QUrl("http://cdn.example/models/a+b.bin"));
    ASSERT_FALSE(served.isEmpty());
    EXPECT_TRUE(interceptor->IsLocalServerUrl(served));
    const int port = server->Port();
    EXPECT_TRUE(
        interceptor->IsLocalServerUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/other").arg(port))));
    EXPECT_FALSE(interceptor->IsLocalServerUrl(
        QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port == 65535 ? 1 : port + 1))));
    EXPECT_FALSE(
        interceptor->IsLocalServerUrl(QUrl(QStringLiteral("http://localhost:%1/").arg(port))));
    EXPECT_FALSE(interceptor->IsLocalServerUrl(QUrl("http://cdn.example/models/a+b.bin")));
}
