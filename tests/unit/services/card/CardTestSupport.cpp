#include "CardTestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <cstdlib>
#include <cstring>

namespace cardtest {

void EventLog::OnCardBusy(bool reading, bool continuous) {
    Entry entry;
    entry.message = UM_CARD_BUSY;
    entry.wParam = reading ? 1 : 0;
    entry.lParam = !reading && continuous ? 1 : 0;
    entries.push_back(entry);
}

void EventLog::OnCardResult(const vorn::CardResult& result) {
    Entry entry;
    entry.message = UM_CARD_RESULT;
    entry.wParam = result.record ? 1 : 0;
    if (result.record) {
        entry.hasRecord = true;
        std::memcpy(&entry.record, result.record.get(), sizeof(IdCardRecord));
    }
    if (result.error)
        entry.error = QString::fromUtf16(result.error->data());
    entries.push_back(entry);
}

int EventLog::CyclesEnded() const {
    int n = 0;
    for (const auto& e : entries)
        n += e.message == UM_CARD_BUSY && e.wParam == 0;
    return n;
}

int EventLog::Records() const {
    int n = 0;
    for (const auto& e : entries)
        n += e.hasRecord;
    return n;
}

std::vector<std::string> EventLog::Summary() const {
    std::vector<std::string> out;
    for (const auto& e : entries) {
        if (e.message == UM_CARD_BUSY)
            out.push_back("busy " + std::to_string(e.wParam) + " " + std::to_string(e.lParam));
        else if (e.wParam == 1)
            out.push_back(e.hasRecord ? "card" : "card without record");
        else
            out.push_back("error " + e.error.toStdString());
    }
    return out;
}

bool EventLog::WellFormedCycles() const {
    if (entries.size() % 3 != 0)
        return false;
    for (size_t i = 0; i < entries.size(); i += 3) {
        const auto& begin = entries[i];
        const auto& result = entries[i + 1];
        const auto& end = entries[i + 2];
        if (begin.message != UM_CARD_BUSY || begin.wParam != 1 || begin.lParam != 0 ||
            result.message != UM_CARD_RESULT || end.message != UM_CARD_BUSY || end.wParam != 0)
            return false;
        if (result.wParam == 1 ? !result.hasRecord : result.error.isEmpty())
            return false;
    }
    return true;
}

const IdCardRecord* EventLog::LastRecord() const {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (it->hasRecord)
            return &it->record;
    return nullptr;
}

SimFolder::SimFolder(const QString& variant, bool withLibrary) {
    if (!withLibrary)
        return;
    const QString source = QStringLiteral(VORN_TERMB_SIM_DIR) +
                           (variant.isEmpty() ? QString() : "/termb-sim/" + variant) +
                           "/libtermb.so";
    // A copy per test: each copy is a library of its own, with its own simulated reader.
    if (!QFile::copy(source, Path() + "libtermb.so"))
        ADD_FAILURE() << "cannot copy the simulator " << source.toStdString();
}

void SimFolder::Describe(const std::string& description) {
    QFile file(Path() + "termb-sim.ini");
    if (!file.open(QIODevice::WriteOnly))
        ADD_FAILURE() << "cannot write the simulator description";
    file.write("log = calls.log\n");
    file.write(description.data(), static_cast<qint64>(description.size()));
}

QStringList SimFolder::Calls() const {
    QFile file(Path() + "calls.log");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    QCoreApplication::sendPostedEvents();
    return done();
}

QString Field(const IdCardRecord& record, int index) {
    return QString::fromUtf16(record.fields[index]);
}

}  // namespace cardtest

int main(int argc, char** argv) {
    // The tests give each simulator its description beside it; an inherited one would win.
    unsetenv("VORN_TERMB_SIM");
    unsetenv("VORN_TERMB_SIM_LOG");
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
