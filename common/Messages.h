#pragma once

#include <QEvent>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vorn {

// The card worker's results reach the main thread as posted events whose types carry these
// numbers: the only hand-off between threads on the way to the page (the page's requests are
// direct calls on the main thread). QCoreApplication::postEvent is safe from any thread; a
// payload belongs to its event and is freed with it, also when the receiver is gone before the
// event is delivered.
enum : int {
    UM_CARD_RESULT = 1225,  // wParam 1 success (record), else failure (text)
    UM_CARD_BUSY = 1226,    // wParam 1 cycle started, else ended; lParam continuous flag
};

// Fifteen zero-terminated UTF-16 fields of 256 code units each; the field indices are those
// of the card reader (1 name ... 11 photo path).
struct IdCardRecord {
    static constexpr int kFieldCount = 15;
    static constexpr int kFieldUnits = 256;
    char16_t fields[kFieldCount][kFieldUnits] = {};
};
static_assert(sizeof(IdCardRecord) == 7680, "the card record is a fixed 7,680-byte block");

// A zero-terminated UTF-16 failure text of at most 255 code units (a 512-byte block).
using CardErrorText = std::array<char16_t, 256>;
static_assert(sizeof(CardErrorText) == 512);

class CMessageEvent : public QEvent {
public:
    CMessageEvent(int message, qintptr wParam, qintptr lParam = 0)
        : QEvent(static_cast<QEvent::Type>(message)), m_wParam(wParam), m_lParam(lParam) {}
    int Message() const { return static_cast<int>(type()); }
    qintptr WParam() const { return m_wParam; }
    qintptr LParam() const { return m_lParam; }

private:
    qintptr m_wParam;
    qintptr m_lParam;
};

// UM_CARD_RESULT: owns either the card record (success) or the failure text; either may be
// absent, which the receiver treats as "nothing to answer".
class CCardResultEvent : public CMessageEvent {
public:
    explicit CCardResultEvent(std::unique_ptr<IdCardRecord> record)
        : CMessageEvent(UM_CARD_RESULT, 1), m_record(std::move(record)) {}
    explicit CCardResultEvent(std::unique_ptr<CardErrorText> error)
        : CMessageEvent(UM_CARD_RESULT, 0), m_error(std::move(error)) {}
    const IdCardRecord* Record() const { return m_record.get(); }
    const CardErrorText* Error() const { return m_error.get(); }
    // Who asked for the reading that produced this result: the token its start request carried
    // (0 when none). Lets the receiver drop answers meant for a page that is gone.
    std::uint64_t Requester() const { return m_requester; }
    void SetRequester(std::uint64_t requester) { m_requester = requester; }

private:
    std::uint64_t m_requester = 0;
    std::unique_ptr<IdCardRecord> m_record;
    std::unique_ptr<CardErrorText> m_error;
};

}  // namespace vorn
