#include "platform/win32/UrlScheme_win.h"

#include "platform/win32/Text_win.h"

#include <windows.h>

namespace vorn::platform::win32 {
namespace {

// The byte count includes the terminating zero: a string value stored without one comes back
// unterminated to readers that trust the registry's data (the documented contract of
// RegSetValueExW asks for it).
bool SetString(HKEY key, const wchar_t* name, DWORD type, const std::wstring& data) {
    const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    const LSTATUS status = RegSetValueExW(key, name, 0, type,
                                          reinterpret_cast<const BYTE*>(data.c_str()), bytes);
    if (status != ERROR_SUCCESS)
        DebugLog(L"app", L"registry value not written: " + LastErrorText(status));
    return status == ERROR_SUCCESS;
}

struct Value {
    const wchar_t* name;  // nullptr: the key's default value
    DWORD type;
    std::wstring data;
};

// Each key stands alone: one that cannot be created leaves the others to be written.
bool WriteKey(HKEY root, const std::wstring& path, std::initializer_list<Value> values) {
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        DebugLog(L"app", L"registry key " + path + L" not created: " + LastErrorText(status));
        return false;
    }
    bool ok = true;
    for (const Value& v : values)
        ok = SetString(key, v.name, v.type, v.data) && ok;
    RegCloseKey(key);
    return ok;
}

}  // namespace

bool WriteUrlSchemeKeys(bool perUser, const std::wstring& scheme, const std::wstring& exe) {
    const HKEY root = perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const std::wstring base = L"Software\\Classes\\" + scheme;
    bool ok = WriteKey(root, base, {{nullptr, REG_SZ, scheme + L"Protocol"},
                                    {L"URL Protocol", REG_EXPAND_SZ, exe}});
    ok = WriteKey(root, base + L"\\DefaultIcon", {{nullptr, REG_SZ, exe + L",1"}}) && ok;
    ok = WriteKey(root, base + L"\\shell\\open\\command",
                  {{nullptr, REG_SZ, L"\"" + exe + L"\" \"%1\""}}) && ok;
    return ok;
}

SchemeScope RegisterUrlSchemeW(const std::wstring& scheme, const std::wstring& exe) {
    if (WriteUrlSchemeKeys(false, scheme, exe))
        return SchemeScope::Machine;
    if (WriteUrlSchemeKeys(true, scheme, exe))
        return SchemeScope::User;
    return SchemeScope::None;
}

std::wstring UrlSchemeCommand(const std::wstring& scheme) {
    // The user's class registry before the machine's, as Windows merges them into
    // HKEY_CLASSES_ROOT (Wine 8's HKEY_CLASSES_ROOT shows the machine's alone).
    const std::wstring path = L"Software\\Classes\\" + scheme + L"\\shell\\open\\command";
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        DWORD bytes = 0;
        if (RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
                ERROR_SUCCESS ||
            bytes < sizeof(wchar_t))
            continue;
        std::wstring data(bytes / sizeof(wchar_t), L'\0');
        if (RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data.data(), &bytes) !=
            ERROR_SUCCESS)
            continue;
        data.resize(wcsnlen(data.c_str(), data.size()));
        return data;
    }
    return {};
}

}  // namespace vorn::platform::win32
