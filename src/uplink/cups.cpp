#include "uplink/uplink.h"

void Uplink::registerTournament(const QString& code, DoneFn done) {
    const QString normalised = code.trimmed().toUpper();
    QJsonObject body;
    body.insert(QStringLiteral("code"), normalised);
    log("CUP", QStringLiteral("registering with code ") + normalised);
    servicePost(QStringLiteral("/cup/register"), body, passError(std::move(done)));
}

void Uplink::unregisterTournament(const QString& cupId, DoneFn done) {
    log("CUP", QStringLiteral("unregistering from ") + cupId);
    servicePost(QStringLiteral("/cup/") + cupId + QStringLiteral("/unregister"), QJsonObject(),
                passError(std::move(done)));
}

void Uplink::createTeam(const QString& cupId, const QString& name, const QString& tag,
                        const QString& password, DoneFn done) {
    QJsonObject body;
    body.insert(QStringLiteral("name"), name.trimmed());
    body.insert(QStringLiteral("tag"), tag.trimmed().toUpper());
    if (!password.isEmpty()) {
        body.insert(QStringLiteral("password"), password);
    }
    log("CUP", QStringLiteral("creating team ") + name.trimmed());
    servicePost(QStringLiteral("/cup/") + cupId + QStringLiteral("/team"), body, passError(std::move(done)));
}

void Uplink::joinTeamCode(const QString& code, DoneFn done) {
    QJsonObject body;
    body.insert(QStringLiteral("code"), code);
    log("CUP", QStringLiteral("joining a team with code ") + code);
    servicePost(QStringLiteral("/cup/team/join-code"), body, passError(std::move(done)));
}

void Uplink::newTeamCode(const QString& cupId, DoneFn done) {
    servicePost(QStringLiteral("/cup/") + cupId + QStringLiteral("/team/code"), QJsonObject(),
                passError(std::move(done)));
}

void Uplink::tournamentReady(const QString& cupId, bool ready, DoneFn done) {
    QJsonObject body;
    body.insert(QStringLiteral("cup"), cupId);
    body.insert(QStringLiteral("ready"), ready);
    servicePost(QStringLiteral("/tournament/ready"), body, passError(std::move(done)));
}
