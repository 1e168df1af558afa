#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorn {

// The length of the well-formed UTF-8 sequence at the start of `text` (one character), 0 when
// there is none. Then, when asked, `illFormedLength` is the length of the sequence's maximal
// ill-formed part (at least one byte; none for empty `text`): the bytes one U+FFFD stands for.
inline std::size_t Utf8SequenceLength(std::string_view text,
                                      std::size_t* illFormedLength = nullptr) {
    if (illFormedLength)
        *illFormedLength = text.empty() ? 0 : 1;
    if (text.empty())
        return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80)
        return 1;
    // How many continuation bytes follow, and the range the first of them must lie in (which
    // excludes overlong forms, surrogates and code points above U+10FFFF).
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
    } else {
        return 0;
    }
    std::size_t seen = 1;
    while (seen <= need && seen < text.size()) {
        const auto next = static_cast<unsigned char>(text[seen]);
        if (next < (seen == 1 ? low : 0x80) || next > (seen == 1 ? high : 0xBF))
            break;
        ++seen;
    }
    if (seen == need + 1)
        return seen;
    if (illFormedLength)
        *illFormedLength = seen;
    return 0;
}

// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD, one per maximal ill-formed
// part (as the Unicode standard recommends), so that the result is valid UTF-8 whatever a
// device, file or process handed over. Pure, any thread.
inline std::string ValidUtf8(std::string_view text) {
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        std::size_t illFormed = 0;
        const std::size_t length = Utf8SequenceLength(text, &illFormed);
        if (length > 0) {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
        } else {
            out.append(kReplacement);
            text.remove_prefix(illFormed);
        }
    }
    return out;
}

}  // namespace vorn
