#include "app/core/StartupRole.h"

namespace vorn {

StartupRole DecideStartupRole(const QStringList& arguments) {
    if (arguments.size() >= 2 &&
        arguments.at(1).compare(QLatin1String("/createprotocol"), Qt::CaseInsensitive) == 0)
        return StartupRole::RegisterProtocol;
    return StartupRole::Main;
}

}  // namespace vorn
