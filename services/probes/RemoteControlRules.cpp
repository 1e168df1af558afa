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

// Rules 1 and 2, which look at the file name alone.
RemoteControlRule MatchNameRules(std::string_view name) {
    const size_t dot = name.rfind('.');
    const std::string_view stem = dot == std::string_view::npos ? name : name.substr(0, dot);
    if (AnyEquals(RemoteToolNames, stem) || AnyEquals(ExactOnlyNames, stem))
        return RemoteControlRule::ExactName;

    for (std::string_view tool : RemoteToolNames) {
        if (name.starts_with(tool))
            return RemoteControlRule::NamePrefix;
    }
    return RemoteControlRule::None;
}

RemoteControlRule MatchIdentityRule(const std::vector<std::string>& identityTexts) {
    for (const std::string& text : identityTexts) {
        if (ContainsToolName(text))
            return RemoteControlRule::PathOrOwnName;
    }
    return RemoteControlRule::None;
}

}  // namespace

RemoteControlRule MatchRemoteControlRule(const vorn::platform::ProcessRecord& record,
                                         const std::vector<std::string>& identityTexts) {
    const RemoteControlRule byName = MatchNameRules(record.fileName);
    return byName != RemoteControlRule::None ? byName : MatchIdentityRule(identityTexts);
}

RemoteControlRule MatchRemoteControlRule(const vorn::platform::IProcessList& processes,
                                         const vorn::platform::ProcessRecord& record) {
    const RemoteControlRule byName = MatchNameRules(record.fileName);
    // Identity texts can cost a read of the executable (a version resource): only when needed.
    return byName != RemoteControlRule::None ? byName
                                             : MatchIdentityRule(processes.IdentityTexts(record));
}

}  // namespace vorn
