#pragma once

#include "common/CardResult.h"
#include "services/card/CardReader.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace cardtest {

using vorn::IdCardRecord;

// How the log below files the reader's reports: a busy report or a result.
inline constexpr int UM_CARD_RESULT = 1225;
inline constexpr int UM_CARD_BUSY = 1226;

// A window stand-in that keeps what the card reader sent it, in order: for a busy report wParam
// 1 when a cycle begins, 0 when it ends with lParam the continuous flag; for a result wParam 1
// on success (a record), 0 on failure (a text).
class EventLog : public vorn::CardReceiver {
public:
    struct Entry {
        int message = 0;
        qintptr wParam = 0;
        qintptr lParam = 0;
        bool hasRecord = false;
        IdCardRecord record;
        QString error;
    };
    std::vector<Entry> entries;

    int CyclesEnded() const;
    int Records() const;
    // "busy 1 0", "card", "error <text>", "busy 0 <continuous>" per event.
    std::vector<std::string> Summary() const;
    // Whether the events form whole cycles: busy 1, one result, busy 0, and again.
    bool WellFormedCycles() const;
    const IdCardRecord* LastRecord() const;

    void OnCardBusy(bool reading, bool continuous) override;
    void OnCardResult(const vorn::CardResult& result) override;
};

// A temporary client folder holding a copy of a simulator build ("" = the full one, else a
// variant folder such as "no-dates") and, when Describe is called, its description file with
// a call log in the folder.
class SimFolder {
public:
    explicit SimFolder(const QString& variant = {}, bool withLibrary = true);
    void Describe(const std::string& description);
    QString Path() const { return m_dir.path() + '/'; }
    QString PhotoPath() const { return Path() + "idcard.jpg"; }
    QStringList Calls() const;

private:
    QTemporaryDir m_dir;
};

// Runs the event loop until `done` holds or `timeout` passes; returns `done()`.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

QString Field(const IdCardRecord& record, int index);

}  // namespace cardtest
