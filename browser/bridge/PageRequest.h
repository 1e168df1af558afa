#pragma once

#include <QStringList>

class IBridgeTarget;

// Carries out one request of the page bridge on `target`. `args` is the request as the page
// script sent it: args[0] the function name (case-sensitive), args[1] the single argument of
// LockApp or Init when the call had exactly one; anything beyond is not read. Any thread.
// Returns false, having done nothing, for an empty list or a name that is not a bridge function.
bool DispatchPageRequest(const QStringList& args, IBridgeTarget& target);
