// The injected page script, exactly as compiled into the client, checked under node in a fake
// frame (tests/unit/browser/bridge/bridge_js_harness.js holds the scenarios).

#include "NodeRunner.h"

#include "browser/bridge/BridgeCall.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

class BridgeScriptTest : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite() {
        s_dir = new QTemporaryDir;
        QFile resource(":/vorn/bridge.js");
        ASSERT_TRUE(resource.open(QIODevice::ReadOnly)) << "bridge.js is not in the resources";
        QFile copy(s_dir->filePath("bridge.js"));
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
        copy.write(resource.readAll());
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    static QTemporaryDir* s_dir;
};

QTemporaryDir* BridgeScriptTest::s_dir = nullptr;

TEST_P(BridgeScriptTest, Scenario) {
    const vorntest::NodeResult result = vorntest::RunNode(
        {vorntest::SourceDir() + "/tests/unit/browser/bridge/bridge_js_harness.js",
         s_dir->filePath("bridge.js"), GetParam(),
         QString::number(vorn::bridge::kMaxCallsPerRequest)});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString() << result.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(PageScript,
                         BridgeScriptTest,
                         ::testing::Values("functions",
                                           "argumentRules",
                                           "hostileArguments",
                                           "documents",
                                           "batching",
                                           "capturedAtInjection",
                                           "pageReplacement",
                                           "neverThrows",
                                           "diagnostics"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

}  // namespace
