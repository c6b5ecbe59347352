// A local tournament service for trying the module by hand: link a PC, register
// for the test cup, run wagers, upload logs and samples, all on 127.0.0.1.

#include "test_service.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> quitRequested{false};

extern "C" void onSignal(int) {
    quitRequested = true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("corvex-test-service");

    QCommandLineParser parser;
    parser.setApplicationDescription("Loopback tournament service for developing and testing the module.");
    parser.addHelpOption();
    const QCommandLineOption portOpt("port", "Port to listen on (0: any free port).", "port", "8787");
    const QCommandLineOption httpsOpt("https", "Serve HTTPS with the loopback certificate.");
    const QCommandLineOption certOpt("cert", "Certificate file (PEM).", "file",
                                     testsvc::TestService::defaultCertFile());
    const QCommandLineOption keyOpt("key", "Private key file (PEM).", "file",
                                    testsvc::TestService::defaultKeyFile());
    const QCommandLineOption linkAfterOpt(
        "link-after", "Link after N pending polls; -1 waits until the sign-in page is opened.", "N", "-1");
    const QCommandLineOption tokenOpt(
        "token", "Also accept this token right away (a PC that is already linked).", "token");
    const QCommandLineOption playerOpt("player", "Id of the player a link completes as.", "id", "p-1");
    const QCommandLineOption nameOpt("name", "In-game name of that player.", "name", "Tester");
    const QCommandLineOption quietOpt("quiet", "Do not print one line per request.");
    const QCommandLineOption faultOpt(
        "fault",
        "Answer every request below ROUTE this way, for good (repeatable). FAULT: status:CODE[:BODY], "
        "drop, huge[:BYTES], hang, delay:MS, echo, trickle:BYTES:PIECE:MS, cut:BYTES:SENT.",
        "ROUTE=FAULT");
    const QCommandLineOption recordOpt(
        "record",
        "Append one JSON line per event received to FILE as it arrives (stored or a re-sent duplicate). "
        "Seqs already in FILE count as stored, as for a service that keeps its data across restarts.",
        "file");
    const QCommandLineOption failRateOpt(
        "fail-rate", "Answer this share (0 to 1) of API requests 503 at random.", "share", "0");
    const QCommandLineOption cupPhaseOpt(
        "cup-phase",
        "Register the player in a cup of this phase (e.g. live: the module locks its game source).", "phase");
    parser.addOptions({portOpt, httpsOpt, certOpt, keyOpt, linkAfterOpt, tokenOpt, playerOpt, nameOpt,
                       quietOpt, faultOpt, recordOpt, failRateOpt, cupPhaseOpt});
    parser.process(app);

    QTextStream err(stderr);
    bool portOk = false;
    bool linkOk = false;
    testsvc::Options options;
    options.port = parser.value(portOpt).toInt(&portOk);
    options.linkAfterPolls = parser.value(linkAfterOpt).toInt(&linkOk);
    if (!portOk || options.port < 0 || options.port > 65535) {
        err << "corvex-test-service: --port needs a number from 0 to 65535\n";
        return 2;
    }
    if (!linkOk) {
        err << "corvex-test-service: --link-after needs a whole number\n";
        return 2;
    }
    options.https = parser.isSet(httpsOpt);
    options.certFile = parser.value(certOpt);
    options.keyFile = parser.value(keyOpt);
    options.linkPlayer =
        testsvc::Player{parser.value(playerOpt), parser.value(nameOpt), parser.value(nameOpt).toLower()};
    options.verbose = !parser.isSet(quietOpt);
    bool rateOk = false;
    options.failRate = parser.value(failRateOpt).toDouble(&rateOk);
    if (!rateOk || options.failRate < 0 || options.failRate > 1) {
        err << "corvex-test-service: --fail-rate needs a share from 0 to 1\n";
        return 2;
    }

    std::vector<testsvc::Fault> faults;
    for (const QString& value : parser.values(faultOpt)) {
        const int eq = value.indexOf('=');
        const std::optional<testsvc::Fault> fault =
            eq > 0 ? testsvc::Fault::parse(value.mid(eq + 1)) : std::nullopt;
        if (!fault) {
            err << "corvex-test-service: --fault needs ROUTE=FAULT, not " << value << "\n";
            return 2;
        }
        faults.push_back(*fault);
        faults.back().route = value.left(eq);
        faults.back().sticky();
    }

    testsvc::TestService service;
    for (const testsvc::Fault& fault : faults)
        service.addFault(fault);
    QFile record;
    if (parser.isSet(recordOpt)) {
        record.setFileName(parser.value(recordOpt));
        if (record.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : record.readAll().split('\n')) {
                const QJsonObject o = QJsonDocument::fromJson(line).object();
                if (!o.isEmpty() && !o.value("dup").toBool())
                    service.markStored(o.value("player").toString(),
                                       static_cast<std::int64_t>(o.value("seq").toDouble()));
            }
            record.close();
        }
        if (!record.open(QIODevice::WriteOnly | QIODevice::Append)) {
            err << "corvex-test-service: cannot write " << record.fileName() << "\n";
            return 1;
        }
        service.setEventObserver([&record](const testsvc::StoredEvent& e, bool duplicate) {
            const QJsonObject line{{"player", e.playerId},
                                   {"seq", static_cast<double>(e.seq)},
                                   {"at", static_cast<double>(e.at)},
                                   {"dup", duplicate},
                                   {"event", e.event}};
            record.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + "\n");
            record.flush();
        });
    }
    if (parser.isSet(cupPhaseOpt)) {
        testsvc::Cup cup;
        cup.id = "c-e2e";
        cup.name = "Test Cup";
        cup.code = "CUP-E2E";
        cup.phase = parser.value(cupPhaseOpt);
        cup.status = cup.phase;
        cup.registered.push_back(options.linkPlayer.id);
        service.addCup(cup);
    }
    if (!service.start(options)) {
        err << "corvex-test-service: " << service.lastError() << "\n";
        return 1;
    }
    if (parser.isSet(tokenOpt))
        service.addToken(parser.value(tokenOpt), options.linkPlayer);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    QTextStream out(stdout);
    out << service.apiBase() << "\n";
    out << "Set the module's server to that URL; Ctrl-C stops the service.\n";
    out.flush();

    while (!quitRequested)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    service.stop();
    service.setEventObserver(nullptr);
    return 0;
}
