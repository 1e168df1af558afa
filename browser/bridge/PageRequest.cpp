#include "browser/bridge/PageRequest.h"

#include "browser/bridge/BridgeTarget.h"
#include "common/Logging.h"
#include "common/Messages.h"
#include "services/settings/IniFile.h"

#include <array>

namespace {

using Action = void (*)(const QStringList& args, IBridgeTarget& target);

struct RequestRoute {
    QStringView name;
    Action action;
};

// The second entry of a request is the page's single argument, when it sent one.
bool HasArgument(const QStringList& args) {
    return args.size() >= 2;
}

void LockApp(const QStringList& args, IBridgeTarget& target) {
    // Without its argument the request is dropped: only an explicit "1" or other text says
    // whether to lock or unlock.
    if (HasArgument(args))
        target.PostToWindow(UM_LOCK_APP, args[1] == u"1" ? 1 : 0);
}

void Init(const QStringList& args, IBridgeTarget& target) {
    if (HasArgument(args))
        target.SetConfigInt(QStringLiteral("ComPort"), vorn::WToI(args[1]));
    target.StartCardReading(0, 0);
}

void Close(const QStringList&, IBridgeTarget& target) {
    target.StopCardReading();
}

void ReadCard(const QStringList&, IBridgeTarget& target) {
    target.StartCardReading(0, 1);
}

void Update(const QStringList&, IBridgeTarget& target) {
    target.PostToWindow(UM_UPDATE, 0);
}

void GetVCamList(const QStringList&, IBridgeTarget& target) {
    target.PostToWindow(UM_GET_VCAM_LIST, 0);
}

void GetIsRemoteLogin(const QStringList&, IBridgeTarget& target) {
    target.PostToWindow(UM_GET_IS_REMOTE_LOGIN, 0);
}

void GetClientInfo(const QStringList&, IBridgeTarget& target) {
    target.PostToWindow(UM_GET_CLIENT_INFO, 0);
}

constexpr std::array<RequestRoute, 8> kRoutes{{
    {u"LockApp", LockApp},
    {u"Init", Init},
    {u"Close", Close},
    {u"ReadCard", ReadCard},
    {u"Update", Update},
    {u"GetVCamList", GetVCamList},
    {u"GetIsRemoteLogin", GetIsRemoteLogin},
    {u"GetClientInfo", GetClientInfo},
}};

}  // namespace

bool DispatchPageRequest(const QStringList& args, IBridgeTarget& target) {
    if (args.isEmpty()) {
        qCDebug(lcBridge) << "Empty page request ignored";
        return false;
    }
    for (const RequestRoute& route : kRoutes) {
        if (args[0] == route.name) {
            qCDebug(lcBridge) << "Page request" << args;
            route.action(args, target);
            return true;
        }
    }
    qCDebug(lcBridge) << "Unknown page request ignored:" << args[0].left(64);
    return false;
}
