#pragma once

#include "common/Messages.h"

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

// A window stand-in that keeps what the card reader sent it, in order.
class EventLog : public QObject {
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

protected:
    bool event(QEvent* event) override;
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
