#pragma once

#include "common/CardResult.h"
#include "services/probes/CameraInfo.h"
#include "services/probes/ClientInfo.h"

#include <QString>

#include <string>

// The JavaScript texts that answer the page, built on the main thread by the page bridge and
// run in the page's main frame. For plain values they are exactly the documented texts; every
// value is escaped (JsEscape.h) so that the page's function receives the original values.
namespace vorn {

// OnVCamList('{"video":[{"devid":"..","name":"..","desc":".."},...]}'); UTF-8.
std::string VCamListAnswer(const CameraList& cameras);

// OnIsRemoteLogin('{"isRemoteLogin":1}'); with 1 or 0.
std::string RemoteLoginAnswer(bool remoteToolRunning);

// OnClientInfo('{"version":"..","platform":"..","lockAvailable":true,"locked":false,
// "displays":1,"virtualMachine":"..","remoteSession":false,"screenCapture":[".."],
// "requestKey":".."}'); keys in this order, UTF-8.
std::string ClientInfoAnswer(const ClientInfo& info);

// ShowIdCard("{PeopleIDCode:..,PeopleName:..,..,StartDate:.., EndDate:.., Pic:..}"); with the
// record's fields 6, 1, 2, 3, 4, 5, 10, 8, 9, 11. A field without its terminating zero is read
// up to the end of its 256 units.
QString IdCardAnswer(const IdCardRecord& record);

// ShowError("..."); with the text up to its first zero (at most 256 units).
QString ErrorAnswer(const CardErrorText& error);

}  // namespace vorn
