// What the account buttons do. Every completion may arrive after the dock is
// gone, so each holds a guarded pointer to it.
#include "dock.h"

#include "plugin/lang.h"

#include <QCheckBox>
#include <QPointer>

void Dock::startLink() {
    uplink().startLink();
    refresh();
}

void Dock::reopenLink() {
    if (!signInPage_.isEmpty()) {
        openPage(signInPage_);
    }
}

void Dock::cancelLink() {
    uplink().cancelLink();
    signInPage_.clear();
    refresh();
}

void Dock::unlinkAsked() {
    const Status& s = uplink().status();
    const auto matchOn = [](const QString& phase) {
        return phase == QLatin1String("live") || phase == QLatin1String("countdown");
    };
    const bool live = matchOn(s.cupPhase) || (!s.wager.id.isEmpty() && matchOn(s.wager.phase));
    if (confirm(Lang::text("Account.Unlink"), Lang::text(live ? "Account.UnlinkLiveQ" : "Account.UnlinkQ"))) {
        uplink().unlink();
        signInPage_.clear();
    }
    refresh();
}

void Dock::openOrSay(const QString& page, const QString& error, const char* fallback) {
    if (error.isEmpty() && !page.isEmpty()) {
        openPage(page);
        return;
    }
    QString text = Lang::text(fallback);
    if (!error.isEmpty()) {
        text += QStringLiteral(" (") + error + QLatin1Char(')');
    }
    showNotice(text);
}

void Dock::verifySteam() {
    QPointer<Dock> self(this);
    uplink().requestSteamVerify([self](const QString& page, const QString& error) {
        if (self) {
            self->openOrSay(page, error, "Account.SteamUnavailable");
        }
    });
}

void Dock::connectTwitch() {
    QPointer<Dock> self(this);
    uplink().requestTwitchVerify(
        [self](const QString& page, const QString& error) {
            if (self) {
                self->openOrSay(page, error, "Account.TwitchUnavailable");
            }
        },
        chatLink_->isChecked(), chatUpdates_->isChecked());
}
