#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Text helpers of the archive layer: name decoding, sanitising and the checks that keep
// extraction inside its base folder. Pure functions, safe on any thread.
namespace vorn::archive {

// Decodes UTF-8 whatever the entry's flags claim; each byte that does not start a valid,
// shortest-form sequence becomes U+FFFD, as a name stored in another code page would on the
// original platform.
std::u16string DecodeUtf8(std::string_view bytes);

// Encodes UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string EncodeUtf8(std::u16string_view text);

// Repeatedly drops a drive prefix ("X:"), a leading separator, and everything up to and
// including the first "\..\", "\../", "/../" or "/..\" (searched for in that order).
std::u16string SanitiseEntryName(std::u16string name);

// The reason a (sanitised) relative name must not be used, or ZR_OK: a ".." segment anywhere
// (so also a leading parent step) gives ZR_UNSAFE_NAME, and so does any character below
// U+0020 or U+007F.
uint32_t CheckRelativeName(std::u16string_view name);

// Only control characters are refused in a name that is used as it stands.
uint32_t CheckAbsoluteName(std::u16string_view name);

// The reason Windows would not take the one path step `name` (UTF-8) as a file or folder of
// that name, or ZR_OK: a device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 and
// COM/LPT with a superscript digit, in any case, alone or before an extension or spaces), a
// trailing dot or space (dropped by Windows, so two names would meet), ':' (an alternate data
// stream), one of <>"|?*\ or a control character: ZR_UNSAFE_NAME. Pure; used on every system's
// build so it can be tested anywhere, applied by the Windows folder steps.
uint32_t CheckWindowsStepName(std::string_view name);

// True when the name begins with "\" or "/", or its second character is ":".
bool IsAbsoluteName(std::u16string_view name);

inline bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

}  // namespace vorn::archive
