#include "models/update/VersionDocument.h"

#include <gtest/gtest.h>

#include <string>

using vorn::ParseVersionDocument;

namespace {

struct Case {
    std::string text;
    bool accepted;
    int ver = 0;
    std::string url;
};

}  // namespace

TEST(VersionDocument, ReadingRules) {
    const Case cases[] = {
        {R"({"modelVer": 7, "downloadUrl": "http://h/models.zip"})", true, 7,
         "http://h/models.zip"},
        {R"({"modelVer": 6.9, "downloadUrl": "u"})", true, 6, "u"},
        {R"({"modelVer": -6.9})", true, -6, ""},
        {R"({"modelVer": 6.0})", true, 6, ""},
        {R"({"modelVer": 1e2})", true, 100, ""},
        {R"({"modelVer": true})", true, 1, ""},
        {R"({"modelVer": false})", true, 0, ""},
        {R"({"modelVer": null, "downloadUrl": null})", true, 0, ""},
        {R"({"downloadUrl": "u"})", true, 0, "u"},
        {R"({})", true, 0, ""},
        {R"({"modelVer": 2147483647})", true, 2147483647, ""},
        {R"({"modelVer": -2147483648})", true, -2147483648, ""},
        {R"({"modelVer": 2147483647.9})", true, 2147483647, ""},
        {R"({"modelVer": -2147483648.9})", true, -2147483648, ""},
        {R"({"modelVer": 3, "downloadUrl": 42})", true, 3, "42"},
        {R"({"modelVer": 3, "downloadUrl": true})", true, 3, "true"},
        {R"({"modelVer": 3, "downloadUrl": false})", true, 3, "false"},
        {R"({"modelVer": 3, "downloadUrl": -7})", true, 3, "-7"},
        {R"({"modelVer": 3, "other": [1, {"x": 2}], "downloadUrl": "u"})", true, 3, "u"},
        {"// comment\n{\"modelVer\": /* inline */ 4}", true, 4, ""},
        {"{\"modelVer\": 4} trailing", true, 4, ""},
        {"{\"modelVer\": 5, \"extra\": " + std::string(30, '[') + std::string(30, ']') + "}", true,
         5, ""},
        {"{\"downloadUrl\": \"\\u00e9\"}", true, 0, "\xC3\xA9"},
        // The run ends on these.
        {R"({"modelVer": 2147483648})", false},
        {R"({"modelVer": -2147483649})", false},
        {R"({"modelVer": 2147483648.0})", false},
        {R"({"modelVer": 1e300})", false},
        {R"({"modelVer": 18446744073709551615})", false},
        {R"({"modelVer": "7"})", false},
        {R"({"modelVer": [7]})", false},
        {R"({"modelVer": {"v": 7}})", false},
        {R"({"modelVer": 7, "downloadUrl": ["u"]})", false},
        {R"({"modelVer": 7, "downloadUrl": {"u": 1}})", false},
        {R"([{"modelVer": 7}])", false},
        {R"(7)", false},
        {R"("text")", false},
        {R"(null)", false},
        {"", false},
        {"<html>502 Bad Gateway</html>", false},
        {R"({"modelVer": 7, )", false},
        {std::string(100000, '[') + std::string(100000, ']'), false},
        {"{\"modelVer\": 5, \"extra\": " + std::string(100, '[') + std::string(100, ']') + "}",
         false},
    };
    for (const Case& c : cases) {
        const auto doc = ParseVersionDocument(c.text);
        ASSERT_EQ(doc.has_value(), c.accepted) << c.text.substr(0, 80);
        if (doc) {
            EXPECT_EQ(doc->modelVer, c.ver) << c.text;
            EXPECT_EQ(doc->downloadUrl, c.url) << c.text;
        }
    }
}

TEST(VersionDocument, RealUrlIsItsDecimalText) {
    const auto doc = ParseVersionDocument(R"({"downloadUrl": 1.5})");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->downloadUrl, "1.5");
}
