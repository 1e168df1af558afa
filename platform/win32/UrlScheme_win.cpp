#include "platform/win32/UrlScheme_win.h"

#include "common/LogSink.h"
#include "platform/SystemUrlSchemes.h"

#include "platform/win32/Text_win.h"

#include <windows.h>

namespace vorn::platform::win32 {
namespace {

// The byte count includes the terminating zero: a string value stored without one comes back
// unterminated to readers that trust the registry's data (the documented contract of
// RegSetValueExW asks for it).
bool SetString(HKEY key, const wchar_t* name, DWORD type, const std::wstring& data) {
    const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    const LSTATUS status =
        RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()), bytes);
    if (status != ERROR_SUCCESS)
        vorn::log::Debug(vorn::log::Area::App, "Registry value not written: " + ErrorText(status));
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
        vorn::log::Debug(vorn::log::Area::App,
                         "Registry key " + WideToUtf8(path) + " not created: " + ErrorText(status));
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
    bool ok =
        WriteKey(root, base,
                 {{nullptr, REG_SZ, scheme + L"Protocol"}, {L"URL Protocol", REG_EXPAND_SZ, exe}});
    ok = WriteKey(root, base + L"\\DefaultIcon", {{nullptr, REG_SZ, exe + L",1"}}) && ok;
    ok = WriteKey(root, base + L"\\shell\\open\\command",
                  {{nullptr, REG_SZ, L"\"" + exe + L"\" \"%1\""}}) &&
         ok;
    return ok;
}

SchemeScope RegisterUrlSchemeW(const std::wstring& scheme, const std::wstring& exe) {
    if (WriteUrlSchemeKeys(false, scheme, exe))
        return SchemeScope::Machine;
    if (WriteUrlSchemeKeys(true, scheme, exe))
        return SchemeScope::User;
    vorn::log::Warning(vorn::log::Area::App,
                       "The " + WideToUtf8(scheme) + ": address scheme could not be registered");
    return SchemeScope::None;
}

namespace {

// A string value of the type `flags` allows (expandable strings as stored), empty when missing,
// of another type or over 64 KiB.
std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* name, DWORD flags) {
    flags |= RRF_NOEXPAND;
    DWORD bytes = 0;
    if (RegGetValueW(root, path.c_str(), name, flags, nullptr, nullptr, &bytes) != ERROR_SUCCESS ||
        bytes < sizeof(wchar_t) || bytes > 64 * 1024)
        return {};
    std::wstring data(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(root, path.c_str(), name, flags, nullptr, data.data(), &bytes) !=
        ERROR_SUCCESS)
        return {};
    data.resize(wcsnlen(data.c_str(), data.size()));
    return data;
}

std::wstring ReadCommand(HKEY root, const std::wstring& classKey) {
    return ReadString(root, L"Software\\Classes\\" + classKey + L"\\shell\\open\\command", nullptr,
                      RRF_RT_REG_SZ);
}

// Whether one class registry holds exactly the four values WriteUrlSchemeKeys writes.
bool HoldsUrlSchemeKeys(HKEY root, const std::wstring& scheme, const std::wstring& exe) {
    const std::wstring base = L"Software\\Classes\\" + scheme;
    return ReadString(root, base, nullptr, RRF_RT_REG_SZ) == scheme + L"Protocol" &&
           ReadString(root, base, L"URL Protocol", RRF_RT_REG_EXPAND_SZ) == exe &&
           ReadString(root, base + L"\\DefaultIcon", nullptr, RRF_RT_REG_SZ) == exe + L",1" &&
           ReadCommand(root, scheme) == L"\"" + exe + L"\" \"%1\"";
}

bool HasClassKey(HKEY root, const std::wstring& classKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, (L"Software\\Classes\\" + classKey).c_str(), 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The program a command starts: its first argument, quoted or up to the first blank.
std::wstring ProgramOf(const std::wstring& command) {
    if (!command.empty() && command[0] == L'"') {
        const size_t end = command.find(L'"', 1);
        return end == std::wstring::npos ? std::wstring() : command.substr(1, end - 1);
    }
    return command.substr(0, command.find(L' '));
}

}  // namespace

std::wstring UrlSchemeCommand(const std::wstring& scheme) {
    // The user's class registry before the machine's, as Windows merges them into
    // HKEY_CLASSES_ROOT (Wine 8's HKEY_CLASSES_ROOT shows the machine's alone).
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        std::wstring command = ReadCommand(root, scheme);
        if (!command.empty())
            return command;
    }
    return {};
}

}  // namespace vorn::platform::win32

namespace vorn::platform {

bool SystemUrlSchemes::Register(const std::string& scheme,
                                const std::string& executablePath) const {
    return win32::RegisterUrlSchemeW(win32::Utf8ToWide(scheme),
                                     win32::Utf8ToWide(executablePath)) != win32::SchemeScope::None;
}

// An installer registers the client machine-wide under a class of its own (its ProgID).
bool SystemUrlSchemes::HasSystemHandlerEntry(const std::string& entryName) const {
    return !win32::ReadCommand(HKEY_LOCAL_MACHINE, win32::Utf8ToWide(entryName)).empty();
}

// The user's scheme then starts the program the installed class starts.
bool SystemUrlSchemes::SetDefaultHandler(const std::string& scheme,
                                         const std::string& entryName) const {
    const std::wstring program =
        win32::ProgramOf(win32::ReadCommand(HKEY_LOCAL_MACHINE, win32::Utf8ToWide(entryName)));
    if (program.empty()) {
        vorn::log::Warning(vorn::log::Area::App, "No installed handler " + entryName +
                                                     " to make the default of " + scheme);
        return false;
    }
    return win32::WriteUrlSchemeKeys(true, win32::Utf8ToWide(scheme), program);
}

UrlSchemeHandler SystemUrlSchemes::FindHandler(const std::string& scheme) const {
    UrlSchemeHandler handler;
    const std::wstring command = win32::UrlSchemeCommand(win32::Utf8ToWide(scheme));
    if (command.empty())
        return handler;
    const std::wstring program = win32::ProgramOf(command);
    handler.command = win32::WideToUtf8(command);
    handler.program = win32::WideToUtf8(program);
    const DWORD attributes =
        program.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(program.c_str());
    handler.programFound =
        attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    return handler;
}

// What the user opens is the user's class key where there is one, else the machine's.
bool SystemUrlSchemes::RegistrationIsCurrent(const std::string& scheme,
                                             const std::string& executablePath) const {
    const std::wstring wideScheme = win32::Utf8ToWide(scheme);
    const HKEY root =
        win32::HasClassKey(HKEY_CURRENT_USER, wideScheme) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    return win32::HoldsUrlSchemeKeys(root, wideScheme, win32::Utf8ToWide(executablePath));
}

bool SystemUrlSchemes::DefaultHandlerIsCurrent(const std::string& scheme,
                                               const std::string& entryName) const {
    const std::wstring program =
        win32::ProgramOf(win32::ReadCommand(HKEY_LOCAL_MACHINE, win32::Utf8ToWide(entryName)));
    return !program.empty() &&
           win32::HoldsUrlSchemeKeys(HKEY_CURRENT_USER, win32::Utf8ToWide(scheme), program);
}

std::unique_ptr<IUrlSchemeRegistration> CreateUrlSchemeRegistration() {
    return std::make_unique<SystemUrlSchemes>();
}

}  // namespace vorn::platform
