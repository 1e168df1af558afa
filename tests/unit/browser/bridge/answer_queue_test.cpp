#include "browser/bridge/PageRequest.h"

#include <gtest/gtest.h>

#include <QStringList>

using vorn::AnswerQueue;

TEST(AnswerQueue, LateAnswerHoldsBackLaterOnesAndAllGoOutInOrder) {
    QStringList sent;
    AnswerQueue answers([&](const QString& text) { sent << text; });

    answers.Send("a");
    const AnswerQueue::Ticket scan1 = answers.Reserve();
    answers.Send("b");
    const AnswerQueue::Ticket scan2 = answers.Reserve();
    answers.Send("c");
    EXPECT_EQ(sent, QStringList({"a"}));

    answers.Fill(scan2, "scan2");  // a later one done first still waits for the earlier one
    EXPECT_EQ(sent, QStringList({"a"}));
    answers.Fill(scan1, "scan1");
    EXPECT_EQ(sent, QStringList({"a", "scan1", "b", "scan2", "c"}));
    EXPECT_EQ(answers.Outstanding(), 0u);

    answers.Fill(scan1, "again");  // already answered
    EXPECT_EQ(sent.size(), 5);
}

TEST(AnswerQueue, EmptyAnswerGivesUpItsPlaceAndReentrantSendsKeepOrder) {
    QStringList sent;
    AnswerQueue* self = nullptr;
    AnswerQueue answers([&](const QString& text) {
        sent << text;
        if (text == "x")
            self->Send("from-sink");  // a sink that answers again goes after what was waiting
    });
    self = &answers;
    const AnswerQueue::Ticket first = answers.Reserve();
    answers.Send("x");
    answers.Send("y");
    answers.Fill(first, QString());
    EXPECT_EQ(sent, QStringList({"x", "y", "from-sink"}));
}

TEST(AnswerQueue, DiscardDropsWaitingAnswersAndTheirLateFills) {
    QStringList sent;
    AnswerQueue answers([&](const QString& text) { sent << text; });
    const AnswerQueue::Ticket scan = answers.Reserve();
    answers.Send("ShowIdCard(\"earlier site\");");
    answers.Discard();
    answers.Fill(scan, "scan of the earlier site");
    answers.Send("next");
    EXPECT_EQ(sent, QStringList({"next"}));
    EXPECT_EQ(answers.Outstanding(), 0u);
}
