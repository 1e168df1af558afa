#include "app/core/StartupRole.h"

namespace vorn {

StartupRole DecideStartupRole(const QStringList& arguments) {
    if (arguments.size() >= 2 &&
        arguments.at(1).compare(QLatin1String("/createprotocol"), Qt::CaseInsensitive) == 0)
        return StartupRole::RegisterProtocol;
    if (arguments.size() >= 2 && arguments.at(1) == QLatin1String("--request-key"))
        return StartupRole::PrintRequestKey;
    return StartupRole::Main;
}

}  // namespace vorn
