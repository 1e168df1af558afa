// The matching rules alone: standard C++, so the Windows build shares them.
#include "services/probes/RemoteControl.h"

namespace vorn {

namespace {

template <size_t N>
bool AnyEquals(const std::array<std::string_view, N>& names, std::string_view text) {
    for (std::string_view name : names) {
        if (text == name)
            return true;
    }
    return false;
}

bool ContainsToolName(std::string_view text) {
    for (std::string_view name : RemoteToolNames) {
        if (text.find(name) != std::string_view::npos)
            return true;
    }
    return false;
}

}  // namespace

RemoteControlRule MatchRemoteControlRule(const vorn::platform::ProcessRecord& record,
                                         const std::vector<std::string>& identityTexts) {
    const std::string_view name = record.fileName;

    const size_t dot = name.rfind('.');
    const std::string_view stem = dot == std::string_view::npos ? name : name.substr(0, dot);
    if (AnyEquals(RemoteToolNames, stem) || AnyEquals(ExactOnlyNames, stem))
        return RemoteControlRule::ExactName;

    for (std::string_view tool : RemoteToolNames) {
        if (name.starts_with(tool))
            return RemoteControlRule::NamePrefix;
    }

    for (const std::string& text : identityTexts) {
        if (ContainsToolName(text))
            return RemoteControlRule::PathOrOwnName;
    }
    return RemoteControlRule::None;
}

RemoteControlRule MatchRemoteControlRule(const vorn::platform::ProcessRecord& record) {
    // ELF files carry no version strings; the install path and the name the process gave
    // itself are where a renamed tool still shows what it is. The other arguments are the
    // user's data: `grep TeamViewer` or an editor on "anydesk.txt" is not the tool.
    return MatchRemoteControlRule(record, {record.imagePath, record.argv0});
}

}  // namespace vorn
