#include "services/settings/StateFolder.h"

namespace vorn {

std::string WithTrailingSeparator(std::string_view folder, char separator) {
    std::string result(folder);
    if (!result.empty() && result.back() != '/' && result.back() != separator)
        result += separator;
    return result;
}

StateFolderChoice ChooseStateFolder(std::string_view clientFolder,
                                    std::string_view dataHome,
                                    bool clientFolderWritable,
                                    bool markerPresent,
                                    char separator) {
    StateFolderChoice choice;
    if ((!clientFolderWritable || markerPresent) && !dataHome.empty()) {
        choice.installed = true;
        choice.stateFolder = WithTrailingSeparator(
            WithTrailingSeparator(dataHome, separator) + "vornclient", separator);
    } else {
        // Without a data folder for the user there is nowhere else to go.
        choice.stateFolder = WithTrailingSeparator(clientFolder, separator);
    }
    return choice;
}

}  // namespace vorn
