#include "services/card/CardAccess.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vorn::card {
namespace {

constexpr std::size_t kTextUnits = 260;  // a text entry point's buffer
constexpr std::size_t kMaxTextUnits = kFieldUnits - 1;

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

// Calls a text entry point the way the library expects: a zeroed 260-unit buffer and its size
// in bytes, reset before every call.
void ReadText(platform::ICardLibrary::TextFn fn, char16_t* field) {
    std::array<char16_t, kTextUnits> buffer{};
    int length = static_cast<int>(buffer.size() * sizeof(char16_t));
    fn(buffer.data(), &length);
    CopyText(field, buffer.data(), buffer.size());
}

}  // namespace

int OpenPort(const platform::ICardLibrary::EntryPoints& api, int port) {
    // Without these three the library cannot hold a reading at all.
    if (!api.CVR_InitComm || !api.CVR_Authenticate || !api.CVR_CloseComm)
        return 0;
    if (port == 0) {
        for (int p = 1001; p <= 1016; ++p)
            if (api.CVR_InitComm(p) == 1)
                return p;
        for (int p = 1; p <= 16; ++p)
            if (api.CVR_InitComm(p) == 1)
                return p;
        return 0;
    }
    if ((port >= 1 && port <= 16) || (port >= 1001 && port <= 1016))
        return api.CVR_InitComm(port) == 1 ? port : 0;
    return 0;
}

void CopyText(char16_t* field, const char16_t* text, std::size_t units) {
    const std::size_t limit = std::min(units, kMaxTextUnits);
    std::size_t n = 0;
    while (n < limit && text[n] != u'\0')
        ++n;
    const bool cut = n == limit && n < units && text[n] != u'\0';
    if (cut && n > 0 && IsHighSurrogate(text[n - 1]))
        --n;
    std::copy_n(text, n, field);
    field[n] = u'\0';
}

void ReadTexts(const platform::ICardLibrary::EntryPoints& api, CardFields& fields) {
    const std::pair<platform::ICardLibrary::TextFn, int> people[] = {
        {api.GetPeopleNameU, 1},     {api.GetPeopleSexU, 2},     {api.GetPeopleNationU, 3},
        {api.GetPeopleBirthdayU, 4}, {api.GetPeopleAddressU, 5}, {api.GetPeopleIDCodeU, 6},
        {api.GetDepartmentU, 7}};
    for (const auto& [fn, field] : people)
        if (fn)
            ReadText(fn, fields[field]);
    // A validity period is only meaningful with both ends.
    if (api.GetStartDateU && api.GetEndDateU) {
        ReadText(api.GetStartDateU, fields[8]);
        ReadText(api.GetEndDateU, fields[9]);
    }
    if (api.GetNationCodeU)
        ReadText(api.GetNationCodeU, fields[10]);
}

}  // namespace vorn::card
