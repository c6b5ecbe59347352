#include "uplink_fixture.h"

namespace {

class Operations : public UplinkTest {
protected:
    void SetUp() override {
        UplinkTest::SetUp();
        startService();
        link();
        startUplink();
        ASSERT_TRUE(settle());
    }
    // Runs one call to its completion; returns the error text.
    QString run(const std::function<void(Uplink::DoneFn)>& call) {
        bool done = false;
        QString error;
        call([&](const QString& e) {
            done = true;
            error = e;
        });
        EXPECT_TRUE(waitUntil([&] { return done; }));
        return error;
    }
    QJsonObject lastBody(const QString& route) const { return service.requestsTo(route).back().json(); }
    QString makeFile(const QString& name, int size) {
        const QString path = QDir(dir.path()).filePath(name);
        QByteArray data(size, 'x');
        for (int i = 0; i < size; i += 1000) {
            data[i] = static_cast<char>('a' + (i / 1000) % 26); // so that a wrong slice shows
        }
        writeFile(path, data);
        return path;
    }
};

TEST_F(Operations, WithoutATokenEveryCallAnswersAtOnceAndSendsNothing) {
    settings.token.clear();
    service.clearRequests();
    const QString w = QStringLiteral("w");
    const std::vector<std::function<void(Uplink::DoneFn)>> calls = {
        [&](Uplink::DoneFn d) { uplink->registerTournament(w, d); },
        [&](Uplink::DoneFn d) { uplink->unregisterTournament(w, d); },
        [&](Uplink::DoneFn d) { uplink->createTeam(w, w, w, QString(), d); },
        [&](Uplink::DoneFn d) { uplink->joinTeamCode(w, d); },
        [&](Uplink::DoneFn d) { uplink->newTeamCode(w, d); },
        [&](Uplink::DoneFn d) { uplink->tournamentReady(w, true, d); },
        [&](Uplink::DoneFn d) { uplink->joinWager(w, d); },
        [&](Uplink::DoneFn d) { uplink->setReady(w, true, d); },
        [&](Uplink::DoneFn d) { uplink->leaveWager(w, d); },
        [&](Uplink::DoneFn d) { uplink->cancelWager(w, d); },
        [&](Uplink::DoneFn d) { uplink->startWager(w, d); },
        [&](Uplink::DoneFn d) { uplink->restartWager(w, d); },
        [&](Uplink::DoneFn d) { uplink->endWager(w, d); },
        [&](Uplink::DoneFn d) { uplink->stopAds(d); },
        [&](Uplink::DoneFn d) { uplink->sendSamples({w}, d); },
        [&](Uplink::DoneFn d) {
            uplink->createWager(w, 5, [d](const QString&, const QString&, const QString& e) { d(e); });
        },
    };
    for (const auto& call : calls) {
        QStringList errors;
        call([&](const QString& e) { errors.append(e); });
        EXPECT_EQ(errors, QStringList{Lang::text("Link.First")}); // once, at once
    }
    QString id = QStringLiteral("unset");
    uplink->uploadEvidence("jpeg", w, 5, [&](const QString& e) { id = e; });
    EXPECT_TRUE(id.isEmpty());
    pump(100);
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(Operations, CupCallsNormaliseWhatTheySendAndShowTheServiceMessage) {
    testsvc::Cup cup;
    cup.id = QStringLiteral("c9");
    cup.code = QStringLiteral("T-AB123");
    service.addCup(cup);
    EXPECT_EQ(run([&](Uplink::DoneFn d) { uplink->registerTournament(QStringLiteral("  t-ab123 "), d); }),
              QString());
    EXPECT_EQ(lastBody(QStringLiteral("/cup/register")),
              (QJsonObject{{QStringLiteral("code"), QStringLiteral("T-AB123")}}));
    EXPECT_EQ(logCount(QStringLiteral("CUP"), QStringLiteral("registering with code T-AB123")), 1);
    ASSERT_TRUE(waitUntil([this] { return uplink->status().registration.registered; })); // from the refresh

    run([&](Uplink::DoneFn d) {
        uplink->createTeam(QStringLiteral("c9"), QStringLiteral(" Dogs "), QStringLiteral(" qrt "), QString(),
                           d);
    });
    EXPECT_EQ(lastBody(QStringLiteral("/cup/c9/team")),
              (QJsonObject{{QStringLiteral("name"), QStringLiteral("Dogs")},
                           {QStringLiteral("tag"), QStringLiteral("QRT")}}));
    run([&](Uplink::DoneFn d) {
        uplink->createTeam(QStringLiteral("c9"), QStringLiteral("Cats"), QStringLiteral("c"),
                           QStringLiteral("  "), d);
    });
    EXPECT_EQ(lastBody(QStringLiteral("/cup/c9/team")).value(QLatin1String("password")),
              QStringLiteral("  "));
    run([&](Uplink::DoneFn d) { uplink->tournamentReady(QStringLiteral("c9"), true, d); });
    EXPECT_EQ(lastBody(QStringLiteral("/tournament/ready")),
              (QJsonObject{{QStringLiteral("cup"), QStringLiteral("c9")}, {QStringLiteral("ready"), true}}));

    service.addFault(QStringLiteral("/cup/register"),
                     testsvc::Fault::status(409, "{\"message\":\"Already registered\"}"));
    EXPECT_EQ(run([&](Uplink::DoneFn d) { uplink->registerTournament(QStringLiteral("x"), d); }),
              QStringLiteral("Already registered"));
    EXPECT_EQ(
        logCount(QStringLiteral("WAGER"),
                 QStringLiteral("/cup/register failed: HTTP 409 | {\"message\":\"Already registered\"}")),
        1);
}

TEST_F(Operations, ACreatedWagerKeepsItsCodes) {
    service.addFault(QStringLiteral("/wager"),
                     testsvc::Fault::raw(R"({"wager":{"id":"w7","code_a":"W-A","code_b":"W-B",
        "sides":{"a":{"players":[{"id":"p-1"}]}}}})")
                         .exact());
    QStringList result;
    auto capture = [&](const QString& a, const QString& b, const QString& e) {
        result = QStringList{a, b, e};
    };
    uplink->createWager(QStringLiteral("2v2"), 30, capture);
    ASSERT_TRUE(waitUntil([&] { return !result.isEmpty(); }));
    EXPECT_EQ(result, (QStringList{QStringLiteral("W-A"), QStringLiteral("W-B"), QString()}));
    EXPECT_EQ(uplink->status().wager.myCode, QStringLiteral("W-A"));
    EXPECT_EQ(logCount(QStringLiteral("WAGER"), QStringLiteral("creating a 2v2 wager, 30 min")), 1);
    EXPECT_EQ(logCount(QStringLiteral("WAGER"), QStringLiteral("created w7, codes W-A / W-B")), 1);
    uplink->parseStatus(
        QJsonDocument::fromJson(R"({"wager":{"id":"w7","sides":{"a":{"players":[{"id":"p-1"}]}}}})")
            .object());
    EXPECT_EQ(uplink->status().wager.codeB, QStringLiteral("W-B")); // a later document without codes

    service.addFault(QStringLiteral("/wager"), testsvc::Fault::status(500).exact());
    result.clear();
    uplink->createWager(QStringLiteral("3v3"), 10, capture);
    ASSERT_TRUE(waitUntil([&] { return !result.isEmpty(); }));
    EXPECT_EQ(result, (QStringList{QString(), QString(), QStringLiteral("HTTP 500")}));
    EXPECT_EQ(uplink->createdCodeA(), QStringLiteral("W-A"));
}

TEST_F(Operations, LeavingOrCancellingClearsTheWagerForGood) {
    const QByteArray mine = R"({"id":"w8","sides":{"b":{"players":[{"id":"p-1"}]}}})";
    service.setStatusKey(QStringLiteral("wager"),
                         QJsonDocument::fromJson(mine).object()); // reported throughout
    step(5000);
    ASSERT_EQ(uplink->status().wager.side, QStringLiteral("b"));
    service.addFault(
        QStringLiteral("/wager/w8/leave"),
        testsvc::Fault::raw(R"({"wager":{"id":"w8","sides":{"b":{"players":[{"id":"p-2"}]}}}})"));
    EXPECT_EQ(run([&](Uplink::DoneFn d) { uplink->leaveWager(QStringLiteral("w8"), d); }), QString());
    EXPECT_EQ(uplink->dismissedWagerId(), QStringLiteral("w8"));
    step(5000);
    EXPECT_TRUE(uplink->status().wager.id.isEmpty()); // the service still names it

    service.addFault(QStringLiteral("/wager/join"), testsvc::Fault::raw("{\"wager\":" + mine + "}"));
    run([&](Uplink::DoneFn d) { uplink->joinWager(QStringLiteral(" w-abc1"), d); });
    EXPECT_EQ(lastBody(QStringLiteral("/wager/join")),
              (QJsonObject{{QStringLiteral("code"), QStringLiteral("W-ABC1")}}));
    EXPECT_EQ(logCount(QStringLiteral("WAGER"), QStringLiteral("joining with code W-ABC1")), 1);
    EXPECT_EQ(uplink->status().wager.id, QStringLiteral("w8"));

    service.addFault(
        QStringLiteral("/wager/w8/cancel"),
        testsvc::Fault::raw(
            R"({"wager":{"id":"w8","phase":"cancelled","sides":{"b":{"players":[{"id":"p-1"}]}}}})"));
    run([&](Uplink::DoneFn d) { uplink->cancelWager(QStringLiteral("w8"), d); });
    EXPECT_TRUE(uplink->status().wager.id.isEmpty());
    EXPECT_EQ(uplink->dismissedWagerId(), QStringLiteral("w8"));
}

TEST_F(Operations, DiagnosticsUploads) {
    const QString big = makeFile(QStringLiteral("reader-1.txt"), 5000000);
    const QString small = makeFile(QStringLiteral("obs log.txt"), 10);
    const QString summary = run([&](Uplink::DoneFn d) {
        uplink->sendLogs({big, dir.path() + "/gone.txt", small}, d);
    });
    auto uploads = service.uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].body, readFile(big).right(3584000));
    EXPECT_EQ(uploads[0].params.value(QStringLiteral("kind")), QStringLiteral("reader"));
    EXPECT_EQ(uploads[1].params.value(QStringLiteral("kind")), QStringLiteral("obs"));
    EXPECT_EQ(uploads[1].params.value(QStringLiteral("name")), QStringLiteral("obs log.txt"));
    EXPECT_EQ(
        summary,
        QStringLiteral("Logs sent: reader-1.txt [%1], obs log.txt [%2] · Not sent: gone.txt (cannot open)")
            .arg(uploads[0].id, uploads[1].id));
    EXPECT_EQ(run([&](Uplink::DoneFn d) { uplink->sendLogs({}, d); }), Lang::text("Logs.NothingSent"));
    EXPECT_EQ(logCount(QStringLiteral("LOGS"), QStringLiteral("sent , failed ")), 1);

    const QString exact = makeFile(QStringLiteral("a.PNG"), 4194304);
    const QString over = makeFile(QStringLiteral("b.jpg"), 4194305);
    EXPECT_EQ(run([&](Uplink::DoneFn d) {
                  uplink->sendSamples({exact, over, small}, d);
              }),
              QStringLiteral("Samples sent: 2. 1 failed (b.jpg unreadable or over 4 MB)."));
    uploads = service.uploads();
    ASSERT_EQ(uploads.size(), 4u);
    EXPECT_EQ(uploads[2].body.size(), 4194304);
    EXPECT_EQ(uploads[2].contentType, QStringLiteral("image/png"));
    EXPECT_EQ(uploads[3].contentType, QStringLiteral("text/plain; charset=utf-8"));
    QString id;
    uplink->uploadEvidence("\xff\xd8", QStringLiteral("jump"), 1234567, [&](const QString& e) { id = e; });
    ASSERT_TRUE(waitUntil([&] { return !id.isEmpty(); }));
    EXPECT_EQ(service.uploads().back().params.value(QStringLiteral("t")), QStringLiteral("1234567"));
}

} // namespace
