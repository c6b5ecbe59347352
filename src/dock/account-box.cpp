// The account box: the three set-up steps (link, Steam, Twitch) until they
// are done, then who the player is on each service, with the buttons that
// fix what is missing.
#include "dock.h"

#include "flow-layout.h"
#include "plugin/lang.h"
#include "widgets.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char* const kDone = "#5FB36B";
const char* const kCurrent = "#E0B24E";
const char* const kLater = "#6F7880";

QString esc(const QString& text) {
    return text.toHtmlEscaped();
}

QString stepRow(const char* colour, const char* mark, const QString& text) {
    return QStringLiteral("<tr><td style='color:%1;font-weight:700;padding-right:6px'>%2</td>"
                          "<td style='color:%1'>%3</td></tr>")
        .arg(QLatin1String(colour), QLatin1String(mark), esc(text));
}

// One row of the account table; `state` is "ok", "warn" or "bad".
QString infoRow(const char* state, const QString& label, const QString& value,
                const QString& note = QString()) {
    const bool ok = qstrcmp(state, "ok") == 0;
    const bool warn = qstrcmp(state, "warn") == 0;
    const QLatin1String colour(ok ? "#5FB36B" : warn ? "#E0B24E" : "#D0645A");
    const QLatin1String mark(ok ? "&#10004;" : warn ? "&#9888;" : "&#10006;");
    QString row = QStringLiteral("<tr><td style='color:%1;font-weight:700;padding-right:6px'>%2</td>"
                                 "<td style='color:#9AA3AA;padding-right:8px'>%3</td><td><b>%4</b>")
                      .arg(colour, mark, esc(label), esc(value));
    if (!note.isEmpty()) {
        row += QStringLiteral(" <span style='color:%1'>%2</span>").arg(colour, esc(note));
    }
    return row + QStringLiteral("</td></tr>");
}

struct Steps {
    bool linkDone = false;
    bool steamDone = false;
    bool twitchDone = false;
    int current() const { return !linkDone ? 1 : !steamDone ? 2 : !twitchDone ? 3 : 0; }
};

QString stepsBlock(const Steps& st) {
    const auto colour = [&st](bool done, int step) {
        return done ? kDone : st.current() == step ? kCurrent : kLater;
    };
    return QStringLiteral("<b>") + esc(Lang::text("Account.ThreeSteps")) +
           QStringLiteral("</b><table cellspacing='0' cellpadding='2'>") +
           stepRow(colour(st.linkDone, 1), st.linkDone ? "&#10004;" : "&#9312;", Lang::text("Account.Link")) +
           stepRow(colour(st.steamDone, 2), st.steamDone ? "&#10004;" : "&#9313;",
                   Lang::text("Account.VerifySteam")) +
           stepRow(colour(st.twitchDone, 3), st.twitchDone ? "&#10004;" : "&#9314;",
                   Lang::text("Account.Twitch")) +
           QStringLiteral("</table><br>");
}

QString steamRow(const AccountInfo& a, const SteamSeen& local) {
    const QString steam = QStringLiteral("Steam");
    const bool found = !local.id.isEmpty() || !local.name.isEmpty();
    if (a.steamLinked) {
        if (!local.id.isEmpty() && local.id != a.steamId) {
            return infoRow("bad", steam, a.steamName, Lang::text("Account.SteamMismatch").arg(local.name));
        }
        if (a.steamVerified) {
            return infoRow("ok", steam, a.steamName, Lang::text("Account.Verified"));
        }
        return infoRow("warn", steam, a.steamName, Lang::text("Account.PressVerifySteam"));
    }
    return infoRow("warn", steam, found ? local.name : Lang::text("Account.NotLinked"),
                   Lang::text(found ? "Account.NotLinkedYet" : "Account.StartSteam"));
}

QString twitchRow(const AccountInfo& a) {
    const QString twitch = QStringLiteral("Twitch");
    if (a.twitchVerified) {
        return infoRow("ok", twitch, a.twitch, Lang::text("Account.Verified"));
    }
    if (a.hasComplete) {
        return infoRow("warn", twitch, a.twitch.isEmpty() ? Lang::text("Account.NotLinked") : a.twitch,
                       Lang::text("Account.PressTwitch"));
    }
    return a.twitch.isEmpty() ? QString() : infoRow("ok", twitch, a.twitch);
}

} // namespace

void Dock::buildAccount(QVBoxLayout* column) {
    accountBox_ = makeBox(content_);
    accountBox_->setObjectName(QStringLiteral("accountBox"));
    auto* box = new QVBoxLayout(accountBox_);
    box->setContentsMargins(10, 8, 10, 8);
    box->setSpacing(6);
    accountText_ = makeLabel(QString(), QString(), accountBox_);
    accountText_->setObjectName(QStringLiteral("accountText"));
    accountText_->setTextFormat(Qt::RichText);
    box->addWidget(accountText_);
    codeLabel_ = makeLabel(QString(), QStringLiteral("code"), accountBox_);
    codeLabel_->setObjectName(QStringLiteral("linkCode"));
    codeLabel_->setTextFormat(Qt::PlainText);
    codeLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    codeLabel_->hide();
    box->addWidget(codeLabel_);

    auto* buttons = new FlowLayout(nullptr, 6, 6);
    const auto add = [&](const char* key, const char* name, void (Dock::*action)()) {
        auto* b = new QPushButton(Lang::text(key), accountBox_);
        b->setObjectName(QString::fromLatin1(name));
        connect(b, &QPushButton::clicked, this, action);
        buttons->addWidget(b);
        return b;
    };
    linkButton_ = add("Account.Link", "accountLink", &Dock::startLink);
    setRole(linkButton_, QStringLiteral("primary"));
    reopenButton_ = add("Account.Reopen", "accountReopen", &Dock::reopenLink);
    cancelButton_ = add("Common.Cancel", "linkCancel", &Dock::cancelLink);
    steamButton_ = add("Account.VerifySteam", "verifySteam", &Dock::verifySteam);
    steamButton_->setToolTip(Lang::text("Account.VerifySteamTip"));
    twitchButton_ = add("Account.Twitch", "connectTwitch", &Dock::connectTwitch);
    twitchButton_->setToolTip(Lang::text("Account.TwitchTip"));
    unlinkButton_ = add("Account.Unlink", "accountUnlink", &Dock::unlinkAsked);
    box->addLayout(buttons);
    column->addWidget(accountBox_);
}

void Dock::refreshAccount(const Status& s) {
    const AccountInfo& a = s.account;
    const bool isLinked = linked();
    const SteamSeen local = engine_->steamAccount();
    Steps st;
    if (isLinked) {
        st.linkDone = a.hasAccount && a.discordLinked;
        st.steamDone = st.linkDone && a.steamVerified;
        st.twitchDone = st.linkDone && a.twitchVerified;
    }
    const bool incomplete = isLinked && a.hasComplete && !a.complete;
    const bool hasCode = !isLinked && !uplink().linkUserCode().isEmpty();
    QString html;
    if (!isLinked && hasCode) {
        html = stepsBlock(st) + esc(Lang::text("Account.BrowserOpened"));
        setLabelText(codeLabel_, QStringLiteral("/link ") + uplink().linkUserCode());
    } else if (!isLinked) {
        const QString steamLine = local.name.isEmpty()
                                      ? QStringLiteral("<br>") + esc(Lang::text("Account.SteamNotFound"))
                                      : QStringLiteral("<br>Steam: ") + esc(local.name);
        html = stepsBlock(st) + esc(Lang::text("Account.LinkIntro")) + steamLine;
    } else {
        html = incomplete ? stepsBlock(st) : QString();
        html += QStringLiteral("<table cellspacing='0' cellpadding='2'>");
        html += infoRow("ok", Lang::text("Account.Player"),
                        s.playerName.isEmpty() ? settings().player_name : s.playerName);
        if (a.hasAccount) {
            html += a.discordLinked
                        ? infoRow("ok", QStringLiteral("Discord"), a.discordName)
                        : infoRow("bad", QStringLiteral("Discord"), Lang::text("Account.NotLinked"));
            html += steamRow(a, local) + twitchRow(a);
        } else {
            html += infoRow("warn", QStringLiteral("Discord"), Lang::text("Account.Checking"));
        }
        html += QStringLiteral("</table>");
    }
    setLabelText(accountText_, html);
    setShown(codeLabel_, hasCode);

    const bool mismatch = a.steamLinked && !local.id.isEmpty() && local.id != a.steamId;
    const bool ok = isLinked && a.discordLinked && a.steamVerified && !mismatch && !incomplete;
    setState(accountBox_, ok ? QStringLiteral("ok") : QString());
    refreshAccountButtons(s, hasCode);
}

void Dock::refreshAccountButtons(const Status& s, bool hasCode) {
    const AccountInfo& a = s.account;
    const bool isLinked = linked();
    const SteamSeen local = engine_->steamAccount();
    const bool localFound = !local.id.isEmpty() || !local.name.isEmpty();
    const bool incomplete = isLinked && a.hasComplete && !a.complete;
    Steps st;
    st.linkDone = isLinked && a.hasAccount && a.discordLinked;
    st.steamDone = st.linkDone && a.steamVerified;
    st.twitchDone = st.linkDone && a.twitchVerified;

    setShown(linkButton_, !isLinked && !hasCode);
    setShown(reopenButton_, hasCode && !signInPage_.isEmpty());
    setShown(cancelButton_, hasCode);
    setShown(unlinkButton_, isLinked);
    setShown(steamButton_, isLinked && (incomplete || localFound) && (!a.hasAccount || !a.steamVerified));
    setShown(twitchButton_, isLinked && a.hasComplete && !a.twitchVerified);
    const bool enabled = !incomplete || st.linkDone;
    steamButton_->setEnabled(enabled);
    twitchButton_->setEnabled(enabled);
    setRole(steamButton_, incomplete && st.current() == 2 ? QStringLiteral("primary") : QString());
    setRole(twitchButton_, incomplete && st.current() == 3 ? QStringLiteral("primary") : QString());
}
