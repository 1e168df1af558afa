#pragma once

#include "common/CardMode.h"
#include "services/lock/LockControl.h"

#include <QStringList>

namespace vorn {

// What the page's requests ask for, one function per request; PageBridge carries them out.
class PageActions {
public:
    virtual ~PageActions() = default;
    virtual void SetLockState(LockState state) = 0;
    // Stores the card reader's port (ComPort).
    virtual void SaveCardPort(int port) = 0;
    virtual void StartCardReading(CardMode mode) = 0;
    virtual void StopCardReading() = 0;
    virtual void StartModelUpdate() = 0;
    virtual void AnswerCameraList() = 0;
    virtual void AnswerRemoteLogin() = 0;
    virtual void AnswerClientInfo() = 0;
};

// Carries out one request of the page bridge on `actions`. `args` is the request as the page
// script sent it: args[0] the function name (case-sensitive), args[1] the single argument of
// LockApp or Init when the call had exactly one; anything beyond is not read. Any thread.
// Returns false, having done nothing, for an empty list or a name that is not a bridge function.
bool DispatchPageRequest(const QStringList& args, PageActions& actions);

}  // namespace vorn
