// The parts of the service link that stand on their own: the queue and its
// file, the status document's readers and the request conventions.

#include "uplink/event-queue.h"
#include "uplink/service-call.h"
#include "uplink/status-reader.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QJsonObject doc(const char* json) {
    return QJsonDocument::fromJson(json).object();
}

QJsonObject event(qint64 seq, const char* kind = "kill") {
    return QJsonObject{{"seq", seq}, {"k", QString::fromLatin1(kind)}, {"t", 1}};
}

TEST(EventQueue, BatchesAcksAndTheHighestNumbers) {
    uplink::EventQueue queue;
    for (qint64 seq : {7, 3, 9, 4}) {
        queue.push(event(seq));
    }
    qint64 highest = 0;
    EXPECT_EQ(queue.first(3, &highest).size(), 3);
    EXPECT_EQ(highest, 9); // not the last one's number: numbers may come out of order
    EXPECT_EQ(queue.first(50, nullptr).size(), 4);
    EXPECT_EQ(queue.first(-1, &highest).size(), 0);
    EXPECT_EQ(highest, 0);

    queue.dropThrough(7); // stops at 9, even though 4 lies behind it
    ASSERT_EQ(queue.size(), 2U);
    EXPECT_EQ(queue.events().front().value("seq").toInt(), 9);
    queue.dropThrough(100);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.highest("seq"), 0);
}

TEST(EventQueue, FileRoundTripKeepsEventsOrderAndPlayer) {
    QTemporaryDir dir;
    const QString path = dir.filePath("pending.json");
    const QString bad = dir.filePath("pending.bad.json");
    uplink::EventQueue queue;
    queue.push(event(1, "status"));
    queue.push(event(2));
    ASSERT_TRUE(queue.save(path, QStringLiteral("p-fallback")));

    uplink::EventQueue loaded;
    loaded.push(event(3)); // an event made before the file was read goes behind it
    loaded.load(path, bad, QStringLiteral("p-other"));
    ASSERT_EQ(loaded.size(), 3U);
    EXPECT_EQ(loaded.events()[0], event(1, "status"));
    EXPECT_EQ(loaded.events()[2], event(3));
    EXPECT_EQ(loaded.player(), QStringLiteral("p-fallback"));
    EXPECT_FALSE(QFile::exists(bad));

    EXPECT_FALSE(queue.save(dir.filePath("no/such/folder/pending.json"), QString()));
}

TEST(EventQueue, NumbersReadFromABrokenBacklog) {
    EXPECT_EQ(uplink::highestNumberAfter(R"({"seq": 12,"seq"	:
40, "seq":7 "lid":99)",
                                         "\"seq\""),
              40);
    EXPECT_EQ(uplink::highestNumberAfter(R"("seq" 5, "seq":, "seq":-3, "sequel":8)", "\"seq\""), 0);
    // At 2^53 numbers are no longer exact; such a value is not a number here.
    EXPECT_EQ(uplink::highestNumberAfter(R"("seq":9007199254740992,"seq":9007199254740991)", "\"seq\""),
              9007199254740991);
    EXPECT_EQ(uplink::highestNumberAfter("\"seq\":", "\"seq\""), 0);
}

TEST(StatusReaders, WagerContextFillsCodesAndHidesTheDismissedWager) {
    uplink::WagerContext context{QStringLiteral("p-1"), QStringLiteral("w1"), QStringLiteral("A-1"),
                                 QStringLiteral("B-1"), QString()};
    const QJsonObject wager = doc(R"({"id":"w1","format":"3v3","created_by":{"id":"p-1"},
        "sides":{"b":{"players":[{"id":"p-1","rating":{"before":1000,"after":1012.6}}]}}})");
    WagerInfo w = uplink::readWager(wager, context);
    EXPECT_EQ(w.codeA, QStringLiteral("A-1"));
    EXPECT_EQ(w.codeB, QStringLiteral("B-1"));
    EXPECT_TRUE(w.mine);
    EXPECT_EQ(w.side, QStringLiteral("b"));
    EXPECT_EQ(w.teamSize, 3);
    EXPECT_EQ(w.ratingAfter, 1013);
    EXPECT_EQ(w.ratingDelta, 13);

    Status previous;
    previous.wager.id = QStringLiteral("w0");
    Status s;
    uplink::readStatusWager(doc("{}"), context, previous, s);
    EXPECT_EQ(s.wager.id, QStringLiteral("w0"));
    context.dismissedId = QStringLiteral("w1");
    uplink::readStatusWager(QJsonObject{{"wager", wager}}, context, previous, s);
    EXPECT_TRUE(s.wager.id.isEmpty());
}

TEST(StatusReaders, PartsTheDocumentLeavesOutKeepOrClearAsTheServiceMeans) {
    Status previous;
    previous.registration.cupId = QStringLiteral("c1");
    previous.plugin.latest = QStringLiteral("9.9.9");
    Status s;
    uplink::readRegistration(doc("{}"), previous, s);
    uplink::readAccountState(doc("{}"), previous, s);
    EXPECT_EQ(s.registration.cupId, QStringLiteral("c1"));
    EXPECT_EQ(s.plugin.latest, QStringLiteral("9.9.9"));
    EXPECT_FALSE(s.account.hasAccount);

    Status cleared;
    uplink::readRegistration(doc(R"({"tournament":null})"), previous, cleared);
    EXPECT_TRUE(cleared.registration.cupId.isEmpty());

    EXPECT_EQ(uplink::readMessage(doc(R"({"message":{"id":7,"text":"hi"}})")).level, QStringLiteral("info"));
    EXPECT_EQ(uplink::readMessage(doc(R"({"message":{"id":7}})")).id, QStringLiteral("7"));
    EXPECT_TRUE(uplink::readNudge(doc(R"({"nudge":"n1"})")).id.isEmpty());
}

TEST(ServiceCall, QueryValuesAndRepliesThatAreNotObjects) {
    EXPECT_EQ(uplink::encoded(QStringLiteral("a b&c=d/é")), QStringLiteral("a%20b%26c%3Dd%2F%C3%A9"));
    Http::Result result;
    result.body = "[1,2]";
    EXPECT_TRUE(uplink::replyObject(result).isEmpty());
    result.body = "not json";
    EXPECT_TRUE(uplink::replyObject(result).isEmpty());
    EXPECT_EQ(uplink::compact(QJsonObject{{"a", 1}, {"b", "x y"}}), QByteArray(R"({"a":1,"b":"x y"})"));
}

} // namespace
