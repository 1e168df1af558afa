#include "services/settings/StateFolder.h"

namespace vorn {

std::string WithTrailingSlash(std::string_view folder) {
    std::string result(folder);
    if (!result.empty() && result.back() != '/')
        result += '/';
    return result;
}

StateFolderChoice ChooseStateFolder(std::string_view clientFolder,
                                    std::string_view dataHome,
                                    bool clientFolderWritable,
                                    bool markerPresent) {
    StateFolderChoice choice;
    if ((!clientFolderWritable || markerPresent) && !dataHome.empty()) {
        choice.installed = true;
        choice.stateFolder = WithTrailingSlash(WithTrailingSlash(dataHome) + "vornclient");
    } else {
        // Without a data folder for the user there is nowhere else to go.
        choice.stateFolder = WithTrailingSlash(clientFolder);
    }
    return choice;
}

}  // namespace vorn
