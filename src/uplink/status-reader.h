#pragma once

#include "uplink/status.h"

#include <QJsonObject>
#include <QString>

// The readers of the service's status document, one per part of it. Each
// reads forgivingly: a key of the wrong type reads as absent, and a part the
// document leaves out keeps what `previous` had where the service means
// "unchanged" (the wager, the registration, the version information).
namespace uplink {

// What a wager reader needs to know besides the wager itself.
struct WagerContext {
    QString playerId;
    // The codes of the wager this PC created, for a document that omits them.
    QString createdId;
    QString createdCodeA;
    QString createdCodeB;
    // The wager the player closed; the service may list it a while longer.
    QString dismissedId;
};

// A popup the host raised: a not-streaming alert or a message. `id` is empty
// when the document carries none.
struct HostPopup {
    QString id;
    QString text;
    QString level;
    QString from;
};

// The player, falling back to the known id and name when the document lacks them.
void readPlayer(const QJsonObject& doc, const QString& knownId, const QString& knownName, Status& s);
// The cup, the team and the standing in it, the overlays and the notice.
void readCup(const QJsonObject& doc, Status& s);
// The cup registration ("tournament").
void readRegistration(const QJsonObject& doc, const Status& previous, Status& s);
// The account, stream checks and version information.
void readAccountState(const QJsonObject& doc, const Status& previous, Status& s);
// The wager: missing keeps the running one, anything but an object clears it.
void readStatusWager(const QJsonObject& doc, const WagerContext& context, const Status& previous, Status& s);

AccountInfo readAccount(const QJsonObject& account);
WagerInfo readWager(const QJsonObject& wager, const WagerContext& context);
HostPopup readNudge(const QJsonObject& doc);
HostPopup readMessage(const QJsonObject& doc);

} // namespace uplink
