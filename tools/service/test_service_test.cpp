#include "test_service.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace testsvc;

namespace {

QJsonObject parse(const httplib::Result& res) {
    return res ? QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object() : QJsonObject{};
}

// A client of the service as the module would be: bearer token, JSON bodies.
class Caller {
public:
    explicit Caller(const TestService& svc, bool https = false)
        : base(svc.apiBase().mid(svc.origin().size()).toStdString()) {
        if (https) {
            auto ssl = std::make_unique<httplib::SSLClient>("127.0.0.1", svc.port());
            ssl->set_ca_cert_path(TestService::defaultCertFile().toStdString().c_str());
            ssl->enable_server_certificate_verification(true);
            client = std::move(ssl);
        } else {
            client = std::make_unique<httplib::ClientImpl>("127.0.0.1", svc.port());
        }
        client->set_read_timeout(5, 0);
    }
    httplib::Result post(const std::string& route, const QJsonObject& body = {}) {
        return client->Post((base + route).c_str(), headers(),
                            QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(),
                            "application/json");
    }
    httplib::Result get(const std::string& route) { return client->Get((base + route).c_str(), headers()); }
    httplib::Headers headers() const {
        httplib::Headers h{{"Accept-Language", "en"}};
        if (!token.empty())
            h.emplace("Authorization", "Bearer " + token);
        return h;
    }

    std::unique_ptr<httplib::ClientImpl> client;
    std::string base;
    std::string token;
};

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(svc.start()) << svc.lastError().toStdString(); }
    TestService svc;
};

} // namespace

TEST_F(ServiceTest, DeviceLinkPendsThenLinksAndTheTokenGuardsCalls) {
    svc.setLinkAfterPolls(2);
    Caller pc(svc);
    ASSERT_EQ(parse(pc.get("/me"))["message"].toString(), "this device is not linked");
    const QJsonObject start =
        parse(pc.post("/device/start", {{"steam", QJsonObject{{"id", "7656"}, {"name", "St"}}}}));
    const QString code = start["device_code"].toString();
    ASSERT_FALSE(code.isEmpty());
    EXPECT_EQ(start["interval"].toInt(), 2);

    EXPECT_EQ(parse(pc.post("/device/poll", {{"device_code", code}}))["status"].toString(), "pending");
    EXPECT_EQ(parse(pc.post("/device/poll", {{"device_code", code}}))["status"].toString(), "pending");
    const QJsonObject linked = parse(pc.post("/device/poll", {{"device_code", code}}));
    ASSERT_EQ(linked["status"].toString(), "linked");
    EXPECT_EQ(linked["player"].toObject()["id"].toString(), "p-1");
    EXPECT_EQ(parse(pc.post("/device/poll", {{"device_code", "nonsense"}}))["status"].toString(), "expired");

    pc.token = linked["token"].toString().toStdString();
    const QJsonObject me = parse(pc.get("/me"));
    EXPECT_EQ(me["player"].toObject()["ign"].toString(), "Tester");
    EXPECT_EQ(me["account"].toObject()["steam"].toObject()["id"].toString(), "7656");
    EXPECT_TRUE(me["now"].isDouble());
    EXPECT_EQ(pc.post("/me")->status, 405);

    ASSERT_EQ(pc.post("/device/unlink")->status, 200);
    EXPECT_EQ(pc.get("/me")->status, 401);
}

TEST_F(ServiceTest, IngestStoresOnceAndAcksTheHighestStoredSeq) {
    svc.addToken("t", {"p-1", "Tester", "tester"});
    Caller pc(svc);
    pc.token = "t";
    auto batch = [](std::initializer_list<int> seqs) {
        QJsonArray events;
        for (int s : seqs)
            events.append(QJsonObject{{"k", "bal"}, {"t", 1}, {"v", 100}, {"seq", s}});
        return QJsonObject{{"v", 1}, {"events", events}};
    };
    EXPECT_EQ(parse(pc.post("/ingest", batch({1, 2, 3})))["ack"].toInt(), 3);
    EXPECT_EQ(parse(pc.post("/ingest", batch({2, 3, 4})))["ack"].toInt(), 4);
    svc.setStoreLimit(1);
    const QJsonObject partial = parse(pc.post("/ingest", batch({5, 6, 7})));
    EXPECT_EQ(partial["ack"].toInt(), 5);
    EXPECT_TRUE(partial["tournament"].isObject()) << "an upload reply carries the status document";

    EXPECT_EQ(svc.storedSeqs(), (std::vector<std::int64_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(svc.duplicates(), 2);
    EXPECT_EQ(svc.acks(), (std::vector<std::int64_t>{3, 4, 5}));
    EXPECT_EQ(pc.post("/ingest", {{"events", "nope"}})->status, 400);
}

// What a recording service needs: every arrival seen once, re-sends flagged,
// and seqs from an earlier run treated as already stored.
TEST_F(ServiceTest, ObserverSeesStoredAndResentEventsAndRemembersEarlierSeqs) {
    svc.addToken("t", {"p-1", "Tester", "tester"});
    Caller pc(svc);
    pc.token = "t";
    std::vector<std::pair<std::int64_t, bool>> seen;
    svc.setEventObserver([&seen](const StoredEvent& e, bool dup) { seen.emplace_back(e.seq, dup); });
    svc.markStored("p-1", 1);
    QJsonArray events;
    for (int s : {1, 2, 2})
        events.append(QJsonObject{{"k", "kill"}, {"t", 1}, {"seq", s}});
    EXPECT_EQ(parse(pc.post("/ingest", {{"events", events}}))["ack"].toInt(), 2);
    EXPECT_EQ(seen, (std::vector<std::pair<std::int64_t, bool>>{{1, true}, {2, false}, {2, true}}));
    EXPECT_EQ(svc.storedSeqs(), (std::vector<std::int64_t>{2}));
}

TEST(ServiceFailRate, FailsTheGivenShareOfApiRequestsOnly) {
    TestService svc;
    Options options;
    options.failRate = 1.0;
    ASSERT_TRUE(svc.start(options));
    svc.addToken("t", {"p-1", "Tester", "tester"});
    Caller pc(svc);
    pc.token = "t";
    EXPECT_EQ(pc.get("/me")->status, 503);
    EXPECT_EQ(pc.post("/ingest", {{"events", QJsonArray{QJsonObject{{"seq", 1}}}}})->status, 503);
    EXPECT_TRUE(svc.storedSeqs().empty()) << "a failed request stores nothing";
    svc.stop();
    options.failRate = 0.5;
    ASSERT_TRUE(svc.start(options));
    Caller again(svc);
    again.token = "t";
    int failed = 0;
    for (int i = 0; i < 200; ++i)
        failed += again.get("/me")->status == 503 ? 1 : 0;
    EXPECT_GT(failed, 60);
    EXPECT_LT(failed, 140);
}

TEST_F(ServiceTest, FaultsAreOneShotUnlessStickyAndMatchByPrefix) {
    svc.addToken("t", {"p-1", "Tester", "tester"});
    Caller pc(svc);
    pc.token = "t";
    svc.addFault("/me", Fault::status(503, R"({"message":"maintenance"})").exact());
    svc.addFault("/wager", Fault::raw("{\"wager\": [trunc").count(2));
    EXPECT_EQ(pc.post("/me/ack", {{"kind", "nudge"}})->status, 200)
        << "an exact fault leaves longer routes alone";
    EXPECT_EQ(pc.get("/me")->status, 503);
    EXPECT_EQ(pc.get("/me")->status, 200);
    EXPECT_EQ(pc.post("/wager/join", {{"code", "X"}})->body, "{\"wager\": [trunc");
    EXPECT_EQ(pc.post("/wager/w-9/ready", {{"ready", true}})->body, "{\"wager\": [trunc");
    EXPECT_EQ(pc.post("/wager/w-9/ready", {{"ready", true}})->status, 404);

    svc.addFault("/ingest", Fault::drop().sticky());
    auto dropped = pc.post("/ingest", {{"events", QJsonArray{}}});
    EXPECT_FALSE(dropped) << "a dropped connection gives no response at all";
    EXPECT_FALSE(pc.post("/ingest", {{"events", QJsonArray{}}}));
    svc.clearFaults();
    EXPECT_EQ(pc.post("/ingest", {{"events", QJsonArray{}}})->status, 200);

    svc.addFault("/logs", Fault::huge(9 * 1024 * 1024));
    auto huge = pc.post("/logs?name=a.txt", {});
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->body.size(), 9u * 1024 * 1024);
}

TEST_F(ServiceTest, StopReleasesAHungRequest) {
    svc.addFault("/me", Fault::hang());
    std::thread caller([this] {
        Caller pc(svc);
        EXPECT_FALSE(pc.get("/me"));
    });
    ASSERT_TRUE(svc.waitForRequests("/me", 1, 5000));
    EXPECT_FALSE(svc.waitForRequests("/ingest", 1, 50));
    svc.stop();
    caller.join();
    EXPECT_FALSE(svc.running());
}

TEST(ServiceHttps, ServesTheLoopbackCertificate) {
    TestService svc;
    Options opt;
    opt.https = true;
    ASSERT_TRUE(svc.start(opt)) << svc.lastError().toStdString();
    EXPECT_TRUE(svc.apiBase().startsWith("https://127.0.0.1:"));
    svc.addToken("t", {"p-1", "Tester", "tester"});
    Caller pc(svc, true);
    pc.token = "t";
    auto res = pc.get("/me");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200);
    svc.addFault("/me", Fault::drop());
    EXPECT_FALSE(pc.get("/me"));
    const auto seen = svc.requestsTo("/me");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].bearer(), "t");
    EXPECT_EQ(seen[0].header("accept-language"), "en");

    Options badCert;
    badCert.https = true;
    badCert.certFile = "/nonexistent.pem";
    TestService other;
    EXPECT_FALSE(other.start(badCert));
    EXPECT_FALSE(other.lastError().isEmpty());
}

TEST_F(ServiceTest, WagerRunsFromCreateToLiveWithCodesPerSide) {
    svc.addToken("ta", {"p-a", "Alpha", "alpha"});
    svc.addToken("tb", {"p-b", "Bravo", "bravo"});
    Caller a(svc), b(svc);
    a.token = "ta";
    b.token = "tb";
    EXPECT_EQ(a.post("/wager", {{"format", "2v3"}, {"minutes", 30}})->status, 400);
    const QJsonObject created = parse(a.post("/wager", {{"format", "1v1"}, {"minutes", 30}}));
    const QString id = created["wager"].toObject()["id"].toString();
    const QString codeB = created["code_b"].toString();
    ASSERT_FALSE(codeB.isEmpty());
    EXPECT_EQ(created["my_code"].toString(), created["code_a"].toString());

    const QJsonObject joined = parse(b.post("/wager/join", {{"code", " " + codeB.toLower()}}));
    EXPECT_EQ(joined["wager"].toObject()["side"].toString(), "b");
    EXPECT_TRUE(joined["wager"].toObject()["code_a"].toString().isEmpty())
        << "a joiner sees only its own code";
    EXPECT_EQ(b.post("/wager/" + id.toStdString() + "/start")->status, 403);
    EXPECT_EQ(a.post("/wager/" + id.toStdString() + "/start")->status, 409) << "nobody is ready yet";
    a.post("/wager/" + id.toStdString() + "/ready", {{"ready", true}});
    b.post("/wager/" + id.toStdString() + "/ready", {{"ready", true}});
    const QJsonObject started = parse(a.post("/wager/" + id.toStdString() + "/start"));
    EXPECT_EQ(started["wager"].toObject()["phase"].toString(), "countdown");

    svc.setNow(svc.wagers().front().startsAt + 1000);
    EXPECT_EQ(parse(b.get("/me"))["wager"].toObject()["phase"].toString(), "live");
    EXPECT_EQ(b.post("/wager/" + id.toStdString() + "/leave")->status, 409);
}

TEST_F(ServiceTest, CupRegistrationTeamsAndReadiness) {
    svc.addToken("ta", {"p-a", "Alpha", "alpha"});
    svc.addToken("tb", {"p-b", "Bravo", "bravo"});
    Caller a(svc), b(svc);
    a.token = "ta";
    b.token = "tb";
    EXPECT_EQ(a.post("/cup/register", {{"code", "nope"}})->status, 404);
    ASSERT_EQ(a.post("/cup/register", {{"code", " cup-1 "}})->status, 200);
    EXPECT_EQ(a.post("/cup/c-1/team", {{"name", " "}, {"tag", "X"}})->status, 400);
    const QJsonObject team =
        parse(a.post("/cup/c-1/team", {{"name", "Dogs"}, {"tag", "dg"}}))["team"].toObject();
    EXPECT_EQ(team["tag"].toString(), "DG");
    const QString invite = team["invite"].toObject()["code"].toString();
    ASSERT_EQ(b.post("/cup/team/join-code", {{"code", invite}})->status, 200);

    a.post("/tournament/ready", {{"cup", "c-1"}, {"ready", true}});
    EXPECT_FALSE(parse(a.get("/me"))["tournament"].toObject()["team"].toObject()["team_ready"].toBool());
    b.post("/tournament/ready", {{"cup", "c-1"}, {"ready", true}});
    const QJsonObject reg = parse(b.get("/me"))["tournament"].toObject();
    EXPECT_TRUE(reg["registered"].toBool());
    EXPECT_TRUE(reg["team"].toObject()["team_ready"].toBool());
    EXPECT_FALSE(reg["team"].toObject()["captain"].toBool());
    EXPECT_EQ(b.post("/cup/c-1/team/code")->status, 403);
}

TEST_F(ServiceTest, UploadsKeepTheirParametersAndStatusOverridesApply) {
    svc.addToken("t", {"p-1", "Tester", "tester"});
    Caller pc(svc);
    pc.token = "t";
    auto res =
        pc.client->Post((pc.base + "/evidence?kind=snap&t=123").c_str(), pc.headers(), "JPEG", "image/jpeg");
    ASSERT_EQ(res->status, 200);
    const auto ups = svc.uploads();
    ASSERT_EQ(ups.size(), 1u);
    EXPECT_EQ(parse(res)["id"].toString(), ups[0].id);
    EXPECT_EQ(ups[0].params.value("t"), "123");
    EXPECT_EQ(ups[0].contentType, "image/jpeg");
    EXPECT_EQ(ups[0].body, "JPEG");
    EXPECT_EQ(
        pc.client->Post((pc.base + "/samples?name=x.png").c_str(), pc.headers(), "", "image/png")->status,
        400);

    svc.setNow(42);
    svc.setMessage(42, "hello");
    svc.setStatusKey("wager", QJsonValue(QJsonValue::Undefined));
    QJsonObject me = parse(pc.get("/me"));
    EXPECT_EQ(me["now"].toInt(), 42);
    EXPECT_EQ(me["message"].toObject()["id"].toInt(), 42);
    EXPECT_FALSE(me.contains("wager"));
    svc.setStatusRaw("not json");
    EXPECT_EQ(pc.get("/me")->body, "not json");
}

TEST(ServiceFaultPlan, ParsesWhatTheProgramTakesAndRefusesTheRest) {
    const std::optional<Fault> status = Fault::parse("status:500:{\"error\":\"a:b\"}");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->kind, Fault::Kind::Status);
    EXPECT_EQ(status->statusCode, 500);
    EXPECT_EQ(status->body, "{\"error\":\"a:b\"}");
    const std::optional<Fault> trickle = Fault::parse("trickle:1000:64:10");
    ASSERT_TRUE(trickle);
    EXPECT_EQ(trickle->hugeBytes, 1000);
    EXPECT_EQ(trickle->pieceBytes, 64);
    EXPECT_EQ(trickle->pieceIntervalMs, 10);
    EXPECT_EQ(Fault::parse("cut:100:40")->cutAfterBytes, 40);
    EXPECT_EQ(Fault::parse("huge")->hugeBytes, 9 * 1024 * 1024);
    for (const char* bad :
         {"", "status", "status:x", "hang:1", "delay", "trickle:1:0:5", "cut:10:10", "nope"})
        EXPECT_FALSE(Fault::parse(bad)) << bad;
}

TEST_F(ServiceTest, EchoTrickleAndCutAnswers) {
    svc.addFault("/c/echo", Fault::echo().sticky());
    svc.addFault("/c/slow", Fault::trickle(100000, 30000, 50));
    svc.addFault("/c/cut", Fault::cut(100000, 30000));
    httplib::Client client("127.0.0.1", svc.port());
    client.set_read_timeout(5, 0);

    httplib::Result res =
        client.Post("/c/echo?x=1", httplib::Headers{{"X-Seq", "7"}}, "bo\ndy", "text/plain");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body.rfind("POST /c/echo?x=1\r\n", 0), 0u) << res->body;
    EXPECT_NE(res->body.find("\r\nX-Seq: 7\r\n"), std::string::npos) << res->body;
    EXPECT_EQ(res->body.substr(res->body.size() - 9), "\r\n\r\nbo\ndy");

    const auto start = std::chrono::steady_clock::now();
    res = client.Get("/c/slow");
    ASSERT_TRUE(res);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150)); // four pieces
    ASSERT_EQ(res->body.size(), 100000u);
    for (std::size_t i = 0; i < res->body.size(); i += 997)
        ASSERT_EQ(res->body[i], static_cast<char>('a' + i % 26)) << i;

    std::size_t got = 0;
    res = client.Get("/c/cut", [&](const char*, std::size_t length) {
        got += length;
        return true;
    });
    EXPECT_FALSE(res && res->status == 200 && got == 100000u);
    EXPECT_EQ(got, 30000u);
}
