#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Pure functions that decide which engine requests the client answers from its model folder.
// All of them are safe on any thread and keep no state of their own.
namespace vorn {

// The six model URL prefixes, in their fixed order, from the four host roles. A host may carry
// a port ("host:8080"); hosts are lower-cased and a default port (80 for http, 443 for https)
// is dropped, because the engine reports request URLs in that canonical form.
std::vector<std::string> BuildModelUrlPrefixes(std::string_view staticHost,
                                               std::string_view httpResourceHost,
                                               std::string_view httpsResourceHost,
                                               std::string_view pageHost);

// Decodes the part of a model URL after its prefix: "%XX" becomes the byte XX, "+" a space;
// a "%" not followed by two hexadecimal digits is copied as it is. Returns nothing when the
// decoded name is unsafe or empty (see IsSafeModelName).
std::optional<std::string> DecodeModelName(std::string_view encoded);

// True for a non-empty relative name without NUL bytes and without a ".." segment.
bool IsSafeModelName(std::string_view name);

// The decoded file name a URL asks for, or nothing when the URL (query and fragment removed)
// begins with none of the prefixes, or names nothing usable. Such requests go to the network.
std::optional<std::string> MatchModelUrl(std::string_view url,
                                         const std::vector<std::string>& prefixes);

// Percent-encodes a name for a URL path; "/" and unreserved characters stay as they are.
std::string EncodeModelName(std::string_view name);

// MIME type from the name's extension (case-insensitive): the web's type where the web names
// one differently, else the system's MIME database (shared-mime-info); "text/html" when neither
// knows the extension. Reads no file.
std::string MimeTypeForModelName(std::string_view name);

}  // namespace vorn
