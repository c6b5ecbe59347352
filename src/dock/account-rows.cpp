// The Twitch ads and chat rows below the account box, and what they do.
#include "dock.h"

#include "flow-layout.h"
#include "plugin/lang.h"
#include "widgets.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char* const kTick = "<span style='color:#5FB36B'>&#10004;</span> ";

} // namespace

void Dock::buildAdsChat(QVBoxLayout* column) {
    auto* ads = new FlowLayout(nullptr, 6, 6);
    adsLabel_ = makeLabel(QString(), QString(), content_);
    adsLabel_->setObjectName(QStringLiteral("adsLabel"));
    adsLabel_->setTextFormat(Qt::RichText);
    adsLabel_->hide();
    column->addWidget(adsLabel_);
    adsAllow_ = new QPushButton(Lang::text("Ads.Allow"), content_);
    adsAllow_->setObjectName(QStringLiteral("adsAllow"));
    adsAllow_->setToolTip(Lang::text("Ads.AllowTip"));
    connect(adsAllow_, &QPushButton::clicked, this, &Dock::allowAds);
    adsStop_ = new QPushButton(Lang::text("Ads.Stop"), content_);
    adsStop_->setObjectName(QStringLiteral("adsStop"));
    adsStop_->setToolTip(Lang::text("Ads.StopTip"));
    connect(adsStop_, &QPushButton::clicked, this, &Dock::stopAds);
    ads->addWidget(adsAllow_);
    ads->addWidget(adsStop_);
    column->addLayout(ads);

    chatRow_ = new QWidget(content_);
    chatRow_->setObjectName(QStringLiteral("chatRow"));
    auto* chat = new FlowLayout(chatRow_, 8, 4);
    chatTitle_ = new QLabel(chatRow_);
    chatTitle_->setObjectName(QStringLiteral("chatTitle"));
    chatTitle_->setTextFormat(Qt::RichText);
    chatLink_ = new QCheckBox(Lang::text("Chat.Link"), chatRow_);
    chatLink_->setObjectName(QStringLiteral("chatLink"));
    chatLink_->setToolTip(Lang::text("Chat.LinkTip"));
    chatUpdates_ = new QCheckBox(Lang::text("Chat.Updates"), chatRow_);
    chatUpdates_->setObjectName(QStringLiteral("chatUpdates"));
    chatUpdates_->setToolTip(Lang::text("Chat.UpdatesTip"));
    chatAllow_ = new QPushButton(Lang::text("Chat.Allow"), chatRow_);
    chatAllow_->setObjectName(QStringLiteral("chatAllow"));
    chatAllow_->setToolTip(Lang::text("Chat.AllowTip"));
    for (QWidget* w : std::initializer_list<QWidget*>{chatTitle_, chatLink_, chatUpdates_, chatAllow_}) {
        chat->addWidget(w);
    }
    connect(chatLink_, &QCheckBox::toggled, this, &Dock::chatChanged);
    connect(chatUpdates_, &QCheckBox::toggled, this, &Dock::chatChanged);
    connect(chatAllow_, &QPushButton::clicked, this, &Dock::allowChat);
    chatRow_->hide();
    column->addWidget(chatRow_);
}

void Dock::refreshAdsChat(const Status& s) {
    const AccountInfo& a = s.account;
    const bool isLinked = linked();
    const bool twitch = isLinked && a.hasAccount && a.twitchVerified;
    setLabelText(adsLabel_,
                 twitch ? QLatin1String(kTick) + Lang::text(a.ads ? "Ads.On" : "Ads.Off").toHtmlEscaped()
                        : QString());
    setShown(adsLabel_, twitch);
    setShown(adsAllow_, twitch && !a.ads);
    setShown(adsStop_, twitch && a.ads);

    setShown(chatRow_, isLinked && a.hasAccount && a.hasChat && (a.twitchVerified || a.hasComplete));
    if (twitch && !chatBusy_) {
        const QSignalBlocker blockLink(chatLink_);
        const QSignalBlocker blockUpdates(chatUpdates_);
        chatLink_->setChecked(a.chatLink);
        chatUpdates_->setChecked(a.chatUpdates);
    }
    chatLink_->setEnabled(!chatBusy_);
    chatUpdates_->setEnabled(!chatBusy_);
    const bool wanted = a.chatLink || a.chatUpdates;
    setShown(chatAllow_, twitch && wanted && !a.chatGranted);
    const QString title = Lang::text("Chat.Title").toHtmlEscaped();
    setLabelText(chatTitle_, twitch && wanted && a.chatGranted ? QLatin1String(kTick) + title : title);
}

void Dock::allowAds() {
    QPointer<Dock> self(this);
    uplink().requestTwitchAds([self](const QString& page, const QString& error) {
        if (!self) {
            return;
        }
        self->openOrSay(page, error, "Account.TwitchUnavailable");
        if (error.isEmpty() && !page.isEmpty()) {
            self->showNotice(Lang::text("Ads.SignInHint"));
        }
    });
}

void Dock::stopAds() {
    QPointer<Dock> self(this);
    uplink().stopAds([self](const QString& error) {
        if (self) {
            self->showNotice(error.isEmpty() ? Lang::text("Ads.Stopped")
                                             : Lang::text("Ads.StopFailed").arg(error));
        }
    });
}

void Dock::allowChat() {
    QPointer<Dock> self(this);
    uplink().requestTwitchChat([self](const QString& page, const QString& error) {
        if (!self) {
            return;
        }
        self->openOrSay(page, error, "Account.TwitchUnavailable");
        if (error.isEmpty() && !page.isEmpty()) {
            self->showNotice(Lang::text("Chat.SignInHint"));
        }
    });
}

void Dock::chatChanged() {
    const AccountInfo& a = uplink().status().account;
    const bool link = chatLink_->isChecked();
    const bool updates = chatUpdates_->isChecked();
    if (!a.twitchVerified) {
        // The choice is only kept once the channel is known.
        if (link || updates) {
            showNotice(Lang::text("Chat.AfterTwitch"));
        }
        return;
    }
    chatBusy_ = true;
    refresh();
    QPointer<Dock> self(this);
    uplink().setChat(link, updates, [self](const QString& page, const QString& error) {
        if (!self) {
            return;
        }
        self->chatBusy_ = false;
        if (!error.isEmpty()) {
            self->showNotice(Lang::text("Chat.Failed").arg(error));
        } else if (!page.isEmpty()) {
            if (self->openPage(page)) {
                self->showNotice(Lang::text("Chat.SignInHint"));
            }
        } else {
            self->showNotice(Lang::text("Chat.Saved"));
        }
        self->refresh();
    });
}
