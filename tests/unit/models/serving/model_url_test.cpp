#include "models/serving/ModelUrl.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

using namespace vorn;

namespace {

const std::vector<std::string> kPrefixes =
    BuildModelUrlPrefixes("static.example", "cdn.example", "res.example", "exam.example:8443");

}  // namespace

TEST(ModelUrlPrefixes, SixInFixedOrderWithPortsCanonical) {
    EXPECT_EQ(kPrefixes, (std::vector<std::string>{
                             "http://static.example/models/",
                             "https://static.example/models/",
                             "http://cdn.example/models/",
                             "https://res.example/models/",
                             "http://exam.example:8443/test/models/",
                             "https://exam.example:8443/test/models/",
                         }));
    // The engine reports hosts lower-cased and without default ports.
    auto canon = BuildModelUrlPrefixes("Static.Example:80", "cdn:8080", "res:443", "p:443");
    EXPECT_EQ(canon[0], "http://static.example/models/");
    EXPECT_EQ(canon[1], "https://static.example:80/models/");
    EXPECT_EQ(canon[2], "http://cdn:8080/models/");
    EXPECT_EQ(canon[3], "https://res/models/");
    EXPECT_EQ(canon[4], "http://p:443/test/models/");
    EXPECT_EQ(canon[5], "https://p/test/models/");
}

TEST(ModelUrlMatch, DecodingTable) {
    struct Case {
        const char* url;
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {"https://static.example/models/face/model.json?v=3", "face/model.json"},
        {"http://static.example/models/a.bin#frag", "a.bin"},
        {"http://static.example/models/a.bin?x=1#y?z", "a.bin"},
        {"http://cdn.example/models/a+b.bin", "a b.bin"},
        {"http://cdn.example/models/a%2Bb.bin", "a+b.bin"},
        {"http://cdn.example/models/a%2bb.bin", "a+b.bin"},
        {"http://cdn.example/models/%E6%A8%A1%E5%9E%8B.bin", "\xE6\xA8\xA1\xE5\x9E\x8B.bin"},
        {"http://cdn.example/models/sub/deeper/x.bin", "sub/deeper/x.bin"},
        {"http://cdn.example/models/100%.bin", "100%.bin"},
        {"http://cdn.example/models/a%4.bin", "a%4.bin"},
        {"http://cdn.example/models/a%G1.bin", "a%G1.bin"},
        {"http://cdn.example/models/a%", "a%"},
        {"http://cdn.example/models/%%41", "%A"},
        {"https://res.example/models/x.wasm", "x.wasm"},
        {"http://exam.example:8443/test/models/x.js", "x.js"},
        {"https://exam.example:8443/test/models/x.js", "x.js"},
        // Refused: these go to the network.
        {"http://cdn.example/models/", std::nullopt},
        {"http://cdn.example/models/?q=1", std::nullopt},
        {"http://cdn.example/models/../secret", std::nullopt},
        {"http://cdn.example/models/a/../../secret", std::nullopt},
        {"http://cdn.example/models/%2E%2E/secret", std::nullopt},
        {"http://cdn.example/models/a/%2e%2e", std::nullopt},
        {"http://cdn.example/models//etc/passwd", std::nullopt},
        {"http://cdn.example/models/%2Fetc/passwd", std::nullopt},
        {"http://cdn.example/models/a%00.bin", std::nullopt},
        // Not model URLs at all.
        {"http://cdn.example/model/a.bin", std::nullopt},
        {"http://cdn.example/x/models/a.bin", std::nullopt},
        {"https://cdn.example/models/a.bin", std::nullopt},
        {"http://res.example/models/a.bin", std::nullopt},
        {"http://exam.example:8443/models/a.bin", std::nullopt},
        {"http://exam.example/test/models/a.bin", std::nullopt},
        {"http://cdn.example.evil/models/a.bin", std::nullopt},
        {"http://static.example/Models/a.bin", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchModelUrl(c.url, kPrefixes), c.name) << c.url;
}

TEST(ModelUrlMatch, DotsThatAreNotParentSegmentsAreNames) {
    EXPECT_EQ(DecodeModelName("..a/b.."), "..a/b..");
    EXPECT_EQ(DecodeModelName("./a"), "./a");
    EXPECT_EQ(DecodeModelName("a/.../b"), "a/.../b");
    EXPECT_FALSE(DecodeModelName(".."));
    EXPECT_FALSE(DecodeModelName("a/.."));
}

TEST(ModelUrlEncode, RoundTripsThroughDecoderForAllBytes) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        all.push_back(static_cast<char>(c));
    const std::string name = "dir/" + all + ".bin";
    const std::string encoded = EncodeModelName(name);
    for (char c : encoded)
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || strchr("-._~/%", c)) << c;
    EXPECT_EQ(DecodeModelName(encoded), name);
}

TEST(ModelUrlMime, WebTypesThenTheSystemDatabaseWithHtmlFallback) {
    const std::pair<const char*, const char*> cases[] = {
        {"a/model.json", "application/json"},
        {"shard1.BIN", "application/octet-stream"},
        {"x.wasm", "application/wasm"},
        {"x.js", "text/javascript"},
        {"p.PNG", "image/png"},
        {"p.jpg", "image/jpeg"},
        {"readme.txt", "text/plain"},
        // Known to the system's database, unknown to a short table.
        {"fonts/a.woff2", "font/woff2"},
        {"fonts/a.ttf", "font/ttf"},
        {"fonts/a.otf", "font/otf"},
        {"favicon.ico", "image/vnd.microsoft.icon"},
        {"i.avif", "image/avif"},
        {"clip.webm", "video/webm"},
        {"noext", "text/html"},
        {"v1.2/noext", "text/html"},
        {"x.unknown", "text/html"},
        {"trailingdot.", "text/html"},
    };
    for (const auto& [name, type] : cases)
        EXPECT_EQ(MimeTypeForModelName(name), type) << name;
}
