// The top of the dock: header and pill, on-air and update banners, the mode
// rows, the dock message with its time line; and the language row.
#include "dock.h"

#include "format.h"
#include "plugin/endpoints.h"
#include "plugin/lang.h"
#include "plugin/module-data.h"
#include "widgets.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

bool isOneOf(const QString& value, std::initializer_list<const char*> options) {
    for (const char* option : options) {
        if (value == QLatin1String(option)) {
            return true;
        }
    }
    return false;
}

QPushButton* makeButton(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

// "Wager 2v2 · 30 min": the name of a wager as the header shows it.
QString wagerText(const WagerInfo& w) {
    QString text = Lang::text("Wager.Name");
    if (!w.format.isEmpty()) {
        text += QLatin1Char(' ') + w.format;
    }
    if (w.minutes >= 1) {
        text += QStringLiteral(" · ") + formatMinutes(w.minutes);
    }
    return text;
}

} // namespace

void Dock::buildHeader(QVBoxLayout* column) {
    auto* header = new QHBoxLayout();
    header->setSpacing(8);
    const QString markPath = plugin::findDataFile("brand/zedar_mark.png");
    const QPixmap mark = markPath.isEmpty() ? QPixmap() : QPixmap(markPath);
    if (!mark.isNull()) {
        auto* logo = new QLabel(content_);
        logo->setObjectName(QStringLiteral("logo"));
        logo->setPixmap(mark.scaledToHeight(22, Qt::SmoothTransformation));
        header->addWidget(logo);
    }
    title_ = makeLabel(Lang::text("Dock.Title"), QStringLiteral("title"), content_);
    header->addWidget(title_, 1);
    pill_ = makeLabel(QString(), QStringLiteral("pill"), content_);
    pill_->setObjectName(QStringLiteral("pill"));
    pill_->setWordWrap(false);
    pill_->setTextFormat(Qt::PlainText);
    header->addWidget(pill_);
    column->addLayout(header);

    onAir_ = makeLabel(QString(), QStringLiteral("onair"), content_);
    onAir_->setObjectName(QStringLiteral("onAir"));
    onAir_->setAlignment(Qt::AlignCenter);
    onAir_->setTextFormat(Qt::PlainText);
    onAir_->hide();
    column->addWidget(onAir_);

    updateRow_ = new QWidget(content_);
    auto* update = new QHBoxLayout(updateRow_);
    update->setContentsMargins(0, 0, 0, 0);
    updateLabel_ = makeLabel(QString(), QStringLiteral("update"), updateRow_);
    updateLabel_->setObjectName(QStringLiteral("updateLabel"));
    updateLabel_->setTextFormat(Qt::PlainText);
    update->addWidget(updateLabel_, 1);
    updateButton_ = makeButton(Lang::text("Update.Download"), "updateDownload", updateRow_);
    setRole(updateButton_, QStringLiteral("primary"));
    connect(updateButton_, &QPushButton::clicked, this, &Dock::downloadUpdate);
    update->addWidget(updateButton_);
    updateRow_->hide();
    column->addWidget(updateRow_);
}

void Dock::buildModeRows(QVBoxLayout* column) {
    modeRow_ = new QWidget(content_);
    auto* modes = new QHBoxLayout(modeRow_);
    modes->setContentsMargins(0, 0, 0, 0);
    modes->setSpacing(0);
    modeWager_ = makeButton(Lang::text("Mode.Wager"), "modeWager", modeRow_);
    modeTournament_ = makeButton(Lang::text("Mode.Tournament"), "modeTournament", modeRow_);
    auto* group = new QButtonGroup(modeRow_);
    group->setExclusive(true);
    for (QPushButton* b : {modeWager_, modeTournament_}) {
        setRole(b, QStringLiteral("seg"));
        b->setCheckable(true);
        group->addButton(b);
        modes->addWidget(b, 1);
    }
    setStyleProperty(modeWager_, "side", QStringLiteral("l"));
    setStyleProperty(modeTournament_, "side", QStringLiteral("r"));
    (settings().mode == QLatin1String("wager") ? modeWager_ : modeTournament_)->setChecked(true);
    connect(modeWager_, &QPushButton::clicked, this, [this] { setMode(QStringLiteral("wager")); });
    connect(modeTournament_, &QPushButton::clicked, this, [this] { setMode(QStringLiteral("tournament")); });
    column->addWidget(modeRow_);

    lockRow_ = new QWidget(content_);
    auto* lock = new QHBoxLayout(lockRow_);
    lock->setContentsMargins(0, 0, 0, 0);
    lockLabel_ = makeLabel(QString(), QStringLiteral("lock"), lockRow_);
    lockLabel_->setObjectName(QStringLiteral("modeLock"));
    lockLabel_->setTextFormat(Qt::PlainText);
    lock->addWidget(lockLabel_, 1);
    switchButton_ = makeButton(Lang::text("Mode.Switch"), "modeSwitch", lockRow_);
    setRole(switchButton_, QStringLiteral("primary"));
    connect(switchButton_, &QPushButton::clicked, this, [this] { setMode(proposedMode_); });
    lock->addWidget(switchButton_);
    lockRow_->hide();
    column->addWidget(lockRow_);
}

void Dock::buildMessages(QVBoxLayout* column) {
    dockMessage_ = makeLabel(QString(), QStringLiteral("muted"), content_);
    dockMessage_->setObjectName(QStringLiteral("dockMessage"));
    dockMessage_->setTextFormat(Qt::PlainText);
    column->addWidget(dockMessage_);
    timeLine_ = makeLabel(QString(), QStringLiteral("muted"), content_);
    timeLine_->setObjectName(QStringLiteral("timeLine"));
    timeLine_->setTextFormat(Qt::PlainText);
    timeLine_->hide();
    column->addWidget(timeLine_);
    buildAlarm(column);
    confirmation_ = makeLabel(QString(), QString(), content_);
    confirmation_->setObjectName(QStringLiteral("confirmation"));
    confirmation_->setTextFormat(Qt::RichText);
    confirmation_->setStyleSheet(QStringLiteral("color:#5FB36B;font-size:11px;"));
    confirmation_->hide();
    column->addWidget(confirmation_);
}

void Dock::buildLanguage(QVBoxLayout* column) {
    auto* row = new QHBoxLayout();
    row->addWidget(makeLabel(Lang::text("Lang.Label"), QStringLiteral("muted"), content_));
    languageMenu_ = new QComboBox(content_);
    languageMenu_->setObjectName(QStringLiteral("languageMenu"));
    languageMenu_->setToolTip(Lang::text("Lang.Tip"));
    languageMenu_->addItem(Lang::text("Lang.Auto"), QStringLiteral("auto"));
    for (const LanguageEntry& entry : Lang::table()) {
        languageMenu_->addItem(QString::fromUtf8(entry.name), QString::fromLatin1(entry.code));
    }
    languageMenu_->setCurrentIndex(qMax(0, languageMenu_->findData(settings().lang)));
    connect(languageMenu_, QOverload<int>::of(&QComboBox::activated), this, &Dock::languageChosen);
    row->addWidget(languageMenu_, 1);
    column->addLayout(row);

    notice_ = makeLabel(QString(), QString(), content_);
    notice_->setObjectName(QStringLiteral("notice"));
    notice_->setTextFormat(Qt::PlainText);
    notice_->setStyleSheet(QStringLiteral("color:#E0B24E;"));
    notice_->hide();
    column->addWidget(notice_);
}

void Dock::languageChosen(int index) {
    const QString lang = languageMenu_->itemData(index).toString();
    if (lang.isEmpty() || lang == settings().lang) {
        return;
    }
    settings().lang = lang;
    engine_->saveSettings();
    // The texts are loaded once, at the start of OBS.
    showNotice(Lang::text("Lang.Restart"));
}

void Dock::refreshModes(const Status& s) {
    const bool isLinked = linked();
    const bool setup = !isLinked || (s.account.hasComplete && !s.account.complete);
    const WagerInfo& w = s.wager;
    const bool wagerActive =
        isLinked && !w.id.isEmpty() && !isOneOf(w.phase, {"ended", "final", "cancelled"});
    const Registration& reg = s.registration;
    const bool registered =
        reg.hasCup && reg.registered && isOneOf(reg.phase, {"registration", "countdown", "live"});
    const bool running = !s.cupId.isEmpty() && s.cupKind != QLatin1String("wager") &&
                         isOneOf(s.cupPhase, {"countdown", "live"});
    const bool cupActive = isLinked && (registered || running);
    const bool wagerMode = settings().mode == QLatin1String("wager");

    QPushButton* checked = wagerMode ? modeWager_ : modeTournament_;
    if (!checked->isChecked()) {
        checked->setChecked(true);
    }
    proposedMode_.clear();
    if (wagerMode && cupActive) {
        proposedMode_ = QStringLiteral("tournament");
        setLabelText(lockLabel_, Lang::text("Mode.HintTournament"));
    } else if (!wagerMode && wagerActive) {
        proposedMode_ = QStringLiteral("wager");
        setLabelText(lockLabel_, Lang::text("Mode.HintWager"));
    }
    setShown(modeRow_, !setup);
    setShown(lockRow_, !setup && !proposedMode_.isEmpty());
    setShown(tournamentArea_, !setup && !wagerMode);
    setShown(wagerArea_, !setup && wagerMode);
    setShown(scoreBox_, !setup && (!wagerMode || s.cupKind == QLatin1String("wager") || wagerActive));
    setShown(overlayRow_, !setup);
}

void Dock::refreshHeader(const Status& s) {
    const WagerInfo& w = s.wager;
    QString pill;
    QString message;
    if (s.cupId.isEmpty() && w.id.isEmpty()) {
        pill = Lang::text("Pill.NoCup");
        message = Lang::text(linked() ? "Dock.NotInCup" : "Dock.LinkBelow");
    } else if (s.cupId.isEmpty()) {
        pill = Lang::text("Pill.Wager").arg(phaseLabel(w.phase));
        message = wagerText(w);
    } else {
        pill = phaseLabel(s.cupPhase);
        if (s.cupKind == QLatin1String("wager")) {
            message = wagerText(w);
        } else if (!s.teamId.isEmpty() || !s.teamName.isEmpty()) {
            message = s.cupName + QStringLiteral(" · %1 [%2]").arg(s.teamName, s.teamTag);
        } else {
            message = s.cupName + QStringLiteral(" · ") + Lang::text("Dock.NoTeamYet");
        }
    }
    setLabelText(pill_, pill);
    setLabelText(dockMessage_, message);

    // The time line follows the cup, or the wager when there is no cup.
    const bool cup = !s.cupId.isEmpty();
    const QString phase = cup ? s.cupPhase : w.phase;
    const bool wagerKind = !cup || s.cupKind == QLatin1String("wager");
    const qint64 now = uplink().serverNow();
    QString time;
    if (!cup && w.id.isEmpty()) {
        time.clear();
    } else if (phase == QLatin1String("countdown")) {
        time = Lang::text("Dock.StartsInSnapshot").arg(clockText((cup ? s.cupStartsAt : w.startsAt) - now));
    } else if (phase == QLatin1String("live")) {
        time = Lang::text("Dock.EndsIn").arg(clockText((cup ? s.cupEndsAt : w.endsAt) - now));
    } else if (isOneOf(phase, {"ended", "final"})) {
        time = Lang::text(wagerKind ? "Dock.WagerOver" : "Dock.CupOver");
    }
    setLabelText(timeLine_, time);
    setShown(timeLine_, !time.isEmpty());

    const bool live = cup ? s.cupPhase == QLatin1String("live") : w.phase == QLatin1String("live");
    const QString pillStyle = live ? QStringLiteral("background:#8C9A5B;color:#0B0E10;") : QString();
    if (pill_->styleSheet() != pillStyle) {
        pill_->setStyleSheet(pillStyle);
    }
}

void Dock::refreshUpdate(const Status& s) {
    const QString version = QString::fromLatin1(plugin::kVersion);
    const bool required = !s.plugin.minimum.isEmpty() && isOlder(version, s.plugin.minimum);
    const bool available = !s.plugin.latest.isEmpty() && isOlder(version, s.plugin.latest);
    if (required) {
        setLabelText(updateLabel_, Lang::text("Update.Required"));
    } else if (available) {
        setLabelText(updateLabel_,
                     Lang::text(isPortable() ? "Update.AvailablePortable" : "Update.Available"));
    }
    setState(updateLabel_, required ? QStringLiteral("required") : QString());
    setShown(updateRow_, required || available);
}

void Dock::downloadUpdate() {
    const PluginInfo& plugin = uplink().status().plugin;
    const bool portable = isPortable();
    QString link = portable ? plugin.portableUrl : plugin.downloadUrl;
    if (link.isEmpty()) {
        link = portable ? QStringLiteral("/api/mintcup/download?portable=1&src=plugin")
                        : QStringLiteral("/api/mintcup/download?src=plugin");
    }
    const QString page = QUrl(QString::fromLatin1(endpoints::kSiteOrigin)).resolved(QUrl(link)).toString();
    if (openPage(page)) {
        showNotice(Lang::text(portable ? "Update.PortableHow" : "Update.InstallerHow"));
    }
}

void Dock::refreshOnAir(const Status& s) {
    const QString& state = s.onAir.state;
    QString text;
    QString look = QStringLiteral("cued");
    if (state == QLatin1String("live")) {
        text = QString(QChar(0x25CF)) + QStringLiteral("  ") + Lang::text("OnAir.Live");
        look = QStringLiteral("live");
    } else if (state == QLatin1String("replay")) {
        text = QString(QChar(0x25B6)) + QStringLiteral("  ") + Lang::text("OnAir.Replay");
        look = QStringLiteral("replay");
    } else if (state == QLatin1String("cued")) {
        text = Lang::text("OnAir.Cued");
    }
    setLabelText(onAir_, text);
    setState(onAir_, look);
    setShown(onAir_, !state.isEmpty());
}
