#include "services/UrlProtocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Writes down what the client's registration asks of the system; the packaged entry is
// installed or not as the test says.
class FakeUrlSchemes : public vorn::platform::IUrlSchemeRegistration {
public:
    explicit FakeUrlSchemes(bool packagedEntryInstalled)
        : m_packagedEntryInstalled(packagedEntryInstalled) {}

    bool Register(const std::string& scheme, const std::string& executablePath) const override {
        return Record("Register " + scheme + " " + executablePath);
    }
    bool HasSystemHandlerEntry(const std::string& entryName) const override {
        return m_packagedEntryInstalled && entryName == vorn::kPackagedHandlerEntry;
    }
    bool SetDefaultHandler(const std::string& scheme, const std::string& entryName) const override {
        return Record("SetDefaultHandler " + scheme + " " + entryName);
    }
    vorn::platform::UrlSchemeHandler FindHandler(const std::string&) const override { return {}; }
    bool RegistrationIsCurrent(const std::string& scheme,
                               const std::string& executablePath) const override {
        return Record("RegistrationIsCurrent " + scheme + " " + executablePath);
    }
    bool DefaultHandlerIsCurrent(const std::string& scheme,
                                 const std::string& entryName) const override {
        return Record("DefaultHandlerIsCurrent " + scheme + " " + entryName);
    }

    mutable std::vector<std::string> calls;

private:
    bool Record(std::string call) const {
        calls.push_back(std::move(call));
        return true;
    }
    bool m_packagedEntryInstalled;
};

}  // namespace

// Only an installed client whose packaged entry is present points the scheme at that entry (an
// entry of the user's own would outlive the package); every other client registers itself, and
// the is-current check asks about exactly what the registration would write.
TEST(ClientUrlScheme, PackagedEntryOnlyForAnInstalledClientThatHasOne) {
    struct Case {
        bool installed;
        bool packagedEntry;
        std::string write;
        std::string check;
    };
    const std::string exe = "/opt/vorn/vornclient";
    const Case cases[] = {
        {true, true, "SetDefaultHandler vornapp vornclient.desktop",
         "DefaultHandlerIsCurrent vornapp vornclient.desktop"},
        {true, false, "Register vornapp " + exe, "RegistrationIsCurrent vornapp " + exe},
        {false, true, "Register vornapp " + exe, "RegistrationIsCurrent vornapp " + exe},
        {false, false, "Register vornapp " + exe, "RegistrationIsCurrent vornapp " + exe},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "installed " << c.installed << ", packaged entry " << c.packagedEntry);
        const FakeUrlSchemes urls(c.packagedEntry);
        EXPECT_TRUE(vorn::RegisterClientUrlScheme(urls, c.installed, exe));
        EXPECT_TRUE(vorn::ClientUrlSchemeIsRegistered(urls, c.installed, exe));
        EXPECT_EQ(urls.calls, (std::vector<std::string>{c.write, c.check}));
    }
}
