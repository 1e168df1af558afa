#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorn {

// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD, one per maximal ill-formed
// part (as the Unicode standard recommends and Qt decodes), so that the result is valid UTF-8
// whatever a device, file or process handed over. Pure, any thread.
inline std::string ValidUtf8(std::string_view text) {
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        // How many continuation bytes follow, and the range the first of them must lie in
        // (which excludes overlong forms, surrogates and code points above U+10FFFF).
        std::size_t need = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        }
        std::size_t seen = 1;
        while (seen <= need && i + seen < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + seen]);
            if (next < (seen == 1 ? low : 0x80) || next > (seen == 1 ? high : 0xBF))
                break;
            ++seen;
        }
        if (need > 0 && seen == need + 1)
            out.append(text.substr(i, seen));
        else
            out.append(kReplacement);
        i += seen;
    }
    return out;
}

}  // namespace vorn
