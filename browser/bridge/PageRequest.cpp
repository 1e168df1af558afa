#include "browser/bridge/PageRequest.h"

#include "common/Logging.h"
#include "services/settings/IniFile.h"

#include <array>

namespace vorn {
namespace {

using Action = void (*)(const QStringList& args, PageActions& target);

struct RequestRoute {
    QStringView name;
    Action action;
};

// The second entry of a request is the page's single argument, when it sent one.
bool HasArgument(const QStringList& args) {
    return args.size() >= 2;
}

void LockApp(const QStringList& args, PageActions& target) {
    // Without its argument the request is dropped: only an explicit "1" or other text says
    // whether to lock or unlock.
    if (HasArgument(args))
        target.SetLockState(args[1] == u"1" ? LockState::Locked : LockState::Unlocked);
}

void Init(const QStringList& args, PageActions& target) {
    if (HasArgument(args))
        target.SaveCardPort(WToI(args[1]));
    target.StartCardReading(CardMode::Once);
}

void Close(const QStringList&, PageActions& target) {
    target.StopCardReading();
}

void ReadCard(const QStringList&, PageActions& target) {
    target.StartCardReading(CardMode::Continuous);
}

void Update(const QStringList&, PageActions& target) {
    target.StartModelUpdate();
}

void GetVCamList(const QStringList&, PageActions& target) {
    target.AnswerCameraList();
}

void GetIsRemoteLogin(const QStringList&, PageActions& target) {
    target.AnswerRemoteLogin();
}

void GetClientInfo(const QStringList&, PageActions& target) {
    target.AnswerClientInfo();
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

bool DispatchPageRequest(const QStringList& args, PageActions& target) {
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

}  // namespace vorn
