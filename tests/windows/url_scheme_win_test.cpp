#include "platform/UrlSchemeRegistration.h"
#include "platform/win32/UrlScheme_win.h"

#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace vorn::platform::win32;

namespace {

// Each test registers its own scheme name and removes it from both class registries.
class UrlSchemeWin : public testing::Test {
protected:
    void TearDown() override {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + scheme).c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + scheme).c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + progId).c_str());
    }

    // The value lines `reg query <key> /s` prints, trimmed, in its order.
    static std::vector<std::string> RegQueryValues(const std::wstring& key) {
        DWORD code = 1;
        std::istringstream out(wintest::RunAndCapture(L"reg.exe query \"" + key + L"\" /s", &code));
        EXPECT_EQ(code, 0u) << "reg query " << std::string(key.begin(), key.end());
        std::vector<std::string> values;
        for (std::string line; std::getline(out, line);) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
                line.pop_back();
            if (line.find("    ") == 0 && line.find("REG_") != std::string::npos)
                values.push_back(line.substr(line.find_first_not_of(' ')));
        }
        return values;
    }

    static std::vector<std::string> ExpectedValues(const std::string& scheme,
                                                   const std::string& exe) {
        return {"(Default)    REG_SZ    " + scheme + "Protocol",
                "URL Protocol    REG_EXPAND_SZ    " + exe, "(Default)    REG_SZ    " + exe + ",1",
                "(Default)    REG_SZ    \"" + exe + "\" \"%1\""};
    }

    const std::wstring scheme = L"vornapptest" + std::to_wstring(GetCurrentProcessId());
    const std::string schemeA{scheme.begin(), scheme.end()};
    const std::wstring progId = L"VornClientTest" + std::to_wstring(GetCurrentProcessId());
    const std::string progIdA{progId.begin(), progId.end()};
    const std::unique_ptr<vorn::platform::IUrlSchemeRegistration> m_urls =
        vorn::platform::CreateUrlSchemeRegistration();
};

TEST_F(UrlSchemeWin, RegistrationHoldsExactlyTheFourValues) {
    const std::wstring exe = L"C:\\Program Files\\Vorn\\vornclient.exe";
    // Wine's user is an administrator, so the machine's class registry takes it.
    ASSERT_EQ(RegisterUrlSchemeW(scheme, exe), SchemeScope::Machine);
    ASSERT_TRUE(m_urls->Register(schemeA, "C:\\Program Files\\Vorn\\vornclient.exe"));
    EXPECT_EQ(RegQueryValues(L"HKEY_CLASSES_ROOT\\" + scheme),
              ExpectedValues(schemeA, "C:\\Program Files\\Vorn\\vornclient.exe"));
    EXPECT_EQ(UrlSchemeCommand(scheme), L"\"" + exe + L"\" \"%1\"");
}

TEST_F(UrlSchemeWin, ValuesKeepTypesAndTheWholeUtf16PathWithItsTerminator) {
    const std::wstring exe = L"C:\\\u8003\u8bd5\\\u5ba2\u6237\u7aef\\vornclient.exe";
    ASSERT_TRUE(WriteUrlSchemeKeys(true, scheme, exe));
    const std::wstring base = L"Software\\Classes\\" + scheme;
    struct Expected {
        std::wstring key;
        const wchar_t* name;
        DWORD type;
        std::wstring data;
    };
    for (const Expected& e : {Expected{base, nullptr, REG_SZ, scheme + L"Protocol"},
                              Expected{base, L"URL Protocol", REG_EXPAND_SZ, exe},
                              Expected{base + L"\\DefaultIcon", nullptr, REG_SZ, exe + L",1"},
                              Expected{base + L"\\shell\\open\\command", nullptr, REG_SZ,
                                       L"\"" + exe + L"\" \"%1\""}}) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, e.key.c_str(), 0, KEY_QUERY_VALUE, &key),
                  ERROR_SUCCESS);
        wchar_t data[512] = {};
        DWORD type = 0, bytes = sizeof data;
        ASSERT_EQ(
            RegQueryValueExW(key, e.name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes),
            ERROR_SUCCESS);
        RegCloseKey(key);
        EXPECT_EQ(type, e.type);
        EXPECT_EQ(bytes, (e.data.size() + 1) * sizeof(wchar_t));
        EXPECT_EQ(std::wstring(data), e.data);
    }
}

TEST_F(UrlSchemeWin, PerUserRegistrationIsWhatTheUserOpens) {
    ASSERT_TRUE(WriteUrlSchemeKeys(false, scheme, L"C:\\machine\\vornclient.exe"));
    ASSERT_TRUE(WriteUrlSchemeKeys(true, scheme, L"C:\\user\\vornclient.exe"));
    EXPECT_EQ(RegQueryValues(L"HKEY_CURRENT_USER\\Software\\Classes\\" + scheme),
              ExpectedValues(schemeA, "C:\\user\\vornclient.exe"));
    EXPECT_EQ(UrlSchemeCommand(scheme), L"\"C:\\user\\vornclient.exe\" \"%1\"");
}

TEST_F(UrlSchemeWin, InstalledClassBecomesTheUsersHandler) {
    EXPECT_FALSE(m_urls->HasSystemHandlerEntry(progIdA));
    EXPECT_FALSE(m_urls->SetDefaultHandler(schemeA, progIdA));
    ASSERT_TRUE(WriteUrlSchemeKeys(false, progId, L"C:\\Vorn Client\\vornclient.exe"));
    EXPECT_TRUE(m_urls->HasSystemHandlerEntry(progIdA));
    ASSERT_TRUE(m_urls->SetDefaultHandler(schemeA, progIdA));
    EXPECT_EQ(RegQueryValues(L"HKEY_CURRENT_USER\\Software\\Classes\\" + scheme),
              ExpectedValues(schemeA, "C:\\Vorn Client\\vornclient.exe"));
}

TEST_F(UrlSchemeWin, CurrentOnlyWhenWhatTheUserOpensHoldsTheseValues) {
    EXPECT_FALSE(m_urls->RegistrationIsCurrent(schemeA, "C:\\a\\vornclient.exe"));
    ASSERT_TRUE(WriteUrlSchemeKeys(false, scheme, L"C:\\a\\vornclient.exe"));
    EXPECT_TRUE(m_urls->RegistrationIsCurrent(schemeA, "C:\\a\\vornclient.exe"));
    EXPECT_FALSE(m_urls->RegistrationIsCurrent(schemeA, "C:\\b\\vornclient.exe"));
    // The user's own class key hides the machine's.
    ASSERT_TRUE(WriteUrlSchemeKeys(true, scheme, L"C:\\b\\vornclient.exe"));
    EXPECT_FALSE(m_urls->RegistrationIsCurrent(schemeA, "C:\\a\\vornclient.exe"));
    EXPECT_TRUE(m_urls->RegistrationIsCurrent(schemeA, "C:\\b\\vornclient.exe"));

    EXPECT_FALSE(m_urls->DefaultHandlerIsCurrent(schemeA, progIdA));
    ASSERT_TRUE(WriteUrlSchemeKeys(false, progId, L"C:\\Vorn Client\\vornclient.exe"));
    EXPECT_FALSE(m_urls->DefaultHandlerIsCurrent(schemeA, progIdA));
    ASSERT_TRUE(m_urls->SetDefaultHandler(schemeA, progIdA));
    EXPECT_TRUE(m_urls->DefaultHandlerIsCurrent(schemeA, progIdA));
}

}  // namespace
