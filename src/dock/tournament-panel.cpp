#include "tournament-panel.h"

#include "copy-button.h"
#include "dock.h"
#include "flow-layout.h"
#include "format.h"
#include "plugin/lang.h"
#include "stream-checks.h"
#include "uplink/texts.h"
#include "widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

QString esc(const QString& text) {
    return text.toHtmlEscaped();
}

QString txt(const char* key) {
    return Lang::text(key);
}

QLabel* richLabel(QWidget* parent) {
    QLabel* label = makeLabel(QString(), QString(), parent);
    label->setTextFormat(Qt::RichText);
    return label;
}

QLineEdit* lineEdit(const QString& placeholder, int maxLength, const QString& tip = QString()) {
    auto* edit = new QLineEdit();
    edit->setPlaceholderText(placeholder);
    if (maxLength > 0) {
        edit->setMaxLength(maxLength);
    }
    edit->setToolTip(tip);
    return edit;
}

QPushButton* button(const QString& text, const QString& role = QString(), const QString& tip = QString()) {
    auto* b = new QPushButton(text);
    if (!role.isEmpty()) {
        b->setProperty("role", role);
    }
    b->setToolTip(tip);
    return b;
}

bool isPhase(const QString& phase, const char* a, const char* b) {
    return phase == QLatin1String(a) || phase == QLatin1String(b);
}

void setStyleSheetIfChanged(QWidget* widget, const QString& sheet) {
    if (widget->styleSheet() != sheet) {
        widget->setStyleSheet(sheet);
    }
}

} // namespace

TournamentPanel::TournamentPanel(Dock& dock, QVBoxLayout* layout) : dock_(dock) {
    build(layout);
    nameWidgets();
    connectActions();
}

void TournamentPanel::nameWidgets() {
    // Stable names for tests and screenshots; the texts change with the language.
    registerRow_->setObjectName(QStringLiteral("tournamentRegisterRow"));
    codeEdit_->setObjectName(QStringLiteral("tournamentCode"));
    registerButton_->setObjectName(QStringLiteral("tournamentRegister"));
    ruleLabel_->setObjectName(QStringLiteral("tournamentRule"));
    infoLabel_->setObjectName(QStringLiteral("tournamentInfo"));
    headlineLabel_->setObjectName(QStringLiteral("tournamentHeadline"));
    teamLabel_->setObjectName(QStringLiteral("tournamentTeam"));
    checksLabel_->setObjectName(QStringLiteral("tournamentChecks"));
    readyButton_->setObjectName(QStringLiteral("tournamentReady"));
    inviteBox_->setObjectName(QStringLiteral("tournamentInviteBox"));
    inviteLabel_->setObjectName(QStringLiteral("tournamentInvite"));
    copyCodeButton_->setObjectName(QStringLiteral("tournamentCopyCode"));
    copyLinkButton_->setObjectName(QStringLiteral("tournamentCopyLink"));
    newCodeButton_->setObjectName(QStringLiteral("tournamentNewCode"));
    createBox_->setObjectName(QStringLiteral("tournamentCreateBox"));
    teamNameEdit_->setObjectName(QStringLiteral("tournamentTeamName"));
    tagEdit_->setObjectName(QStringLiteral("tournamentTag"));
    passwordEdit_->setObjectName(QStringLiteral("tournamentPassword"));
    createButton_->setObjectName(QStringLiteral("tournamentCreateTeam"));
    joinBox_->setObjectName(QStringLiteral("tournamentJoinBox"));
    joinEdit_->setObjectName(QStringLiteral("tournamentJoinCode"));
    joinButton_->setObjectName(QStringLiteral("tournamentJoinTeam"));
    unregisterButton_->setObjectName(QStringLiteral("tournamentUnregister"));
}

void TournamentPanel::build(QVBoxLayout* layout) {
    layout->addWidget(makeLabel(txt("Mode.Tournament"), QStringLiteral("muted")));

    registerRow_ = new QWidget();
    auto* row = new QHBoxLayout(registerRow_);
    row->setContentsMargins(0, 0, 0, 0);
    codeEdit_ = lineEdit(QStringLiteral("T-XXXXX"), 12, txt("Tournament.CodeTip"));
    registerButton_ = button(txt("Tournament.Register"), QStringLiteral("primary"));
    row->addWidget(codeEdit_, 1);
    row->addWidget(registerButton_);
    layout->addWidget(registerRow_);

    ruleLabel_ = makeLabel(txt("Stream.Rule"), QStringLiteral("lock"));
    infoLabel_ = richLabel(nullptr);
    headlineLabel_ = richLabel(nullptr);
    teamLabel_ = richLabel(nullptr);
    checksLabel_ = richLabel(nullptr);
    readyButton_ = button(txt("Tournament.ReadyUp"), QString(), txt("Tournament.ReadyTip"));
    for (QWidget* w : {static_cast<QWidget*>(ruleLabel_), static_cast<QWidget*>(infoLabel_),
                       static_cast<QWidget*>(headlineLabel_), static_cast<QWidget*>(teamLabel_),
                       static_cast<QWidget*>(checksLabel_), static_cast<QWidget*>(readyButton_)}) {
        layout->addWidget(w);
    }

    inviteBox_ = new QWidget();
    auto* invite = new QVBoxLayout(inviteBox_);
    invite->setContentsMargins(0, 0, 0, 0);
    invite->setSpacing(4);
    inviteLabel_ = richLabel(nullptr);
    inviteLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    invite->addWidget(inviteLabel_);
    auto* inviteButtons = new FlowLayout(nullptr, 6, 6);
    copyCodeButton_ = button(txt("Tournament.CopyCode"));
    copyLinkButton_ = button(txt("Tournament.CopyLink"));
    newCodeButton_ = button(txt("Tournament.NewCode"), QString(), txt("Tournament.NewCodeTip"));
    inviteButtons->addWidget(copyCodeButton_);
    inviteButtons->addWidget(copyLinkButton_);
    inviteButtons->addWidget(newCodeButton_);
    invite->addLayout(inviteButtons);
    layout->addWidget(inviteBox_);

    buildTeamBoxes(layout);
    unregisterButton_ = button(txt("Tournament.Unregister"), QString(), txt("Tournament.UnregisterTip"));
    layout->addWidget(unregisterButton_);
}

void TournamentPanel::buildTeamBoxes(QVBoxLayout* layout) {
    createBox_ = new QWidget();
    auto* create = new QVBoxLayout(createBox_);
    create->setContentsMargins(0, 0, 0, 0);
    create->setSpacing(4);
    teamNameEdit_ = lineEdit(txt("Tournament.TeamName"), 32);
    tagEdit_ = lineEdit(txt("Tournament.Tag"), 5, txt("Tournament.TagTip"));
    passwordEdit_ = lineEdit(txt("Tournament.Password"), 32);
    passwordEdit_->setEchoMode(QLineEdit::Password);
    createButton_ = button(txt("Tournament.CreateTeam"), QStringLiteral("primary"));
    create->addWidget(teamNameEdit_);
    create->addWidget(tagEdit_);
    create->addWidget(passwordEdit_);
    create->addWidget(createButton_);
    layout->addWidget(createBox_);

    joinBox_ = new QWidget();
    auto* join = new QHBoxLayout(joinBox_);
    join->setContentsMargins(0, 0, 0, 0);
    joinEdit_ = lineEdit(txt("Tournament.JoinCode"), 0, txt("Tournament.JoinCodeTip"));
    joinButton_ = button(txt("Tournament.JoinTeam"));
    join->addWidget(joinEdit_, 1);
    join->addWidget(joinButton_);
    layout->addWidget(joinBox_);
}

void TournamentPanel::connectActions() {
    QObject::connect(registerButton_, &QPushButton::clicked, [this] { registerCup(); });
    QObject::connect(codeEdit_, &QLineEdit::returnPressed, [this] { registerCup(); });
    QObject::connect(createButton_, &QPushButton::clicked, [this] { createTeam(); });
    QObject::connect(passwordEdit_, &QLineEdit::returnPressed, [this] { createTeam(); });
    QObject::connect(joinButton_, &QPushButton::clicked, [this] { joinTeam(); });
    QObject::connect(joinEdit_, &QLineEdit::returnPressed, [this] { joinTeam(); });
    QObject::connect(newCodeButton_, &QPushButton::clicked, [this] { newCode(); });
    QObject::connect(readyButton_, &QPushButton::clicked, [this] { toggleReady(); });
    QObject::connect(unregisterButton_, &QPushButton::clicked, [this] { unregisterCup(); });
    QObject::connect(copyCodeButton_, &QPushButton::clicked, [this] {
        copyWithFeedback(copyCodeButton_, dock_.uplink().status().registration.inviteCode);
    });
    QObject::connect(copyLinkButton_, &QPushButton::clicked, [this] {
        copyWithFeedback(copyLinkButton_, dock_.uplink().status().registration.inviteUrl);
    });
}

void TournamentPanel::refresh() {
    const bool linked = dock_.linked();
    const Registration& r = dock_.uplink().status().registration;
    const bool registered = linked && r.hasCup && r.registered;

    setShown(registerRow_, !registered);
    codeEdit_->setEnabled(linked && !busy_);
    registerButton_->setEnabled(linked && !busy_);
    setShown(ruleLabel_, !registered || isPhase(r.phase, "registration", "countdown"));
    refreshInfo(r, registered);

    setShown(headlineLabel_, registered);
    setShown(teamLabel_, registered);
    if (registered) {
        refreshHeadline(r);
    }
    const bool readyArea = registered && r.hasTeam && isPhase(r.phase, "registration", "locked");
    setShown(readyButton_, readyArea);
    setShown(checksLabel_, readyArea);
    if (readyArea) {
        refreshReady(r);
    }
    setShown(createBox_, registered && !r.hasTeam);
    setShown(joinBox_, linked && (!registered || !r.hasTeam));
    refreshInvite(r, registered && r.hasTeam && r.captain && !r.inviteCode.isEmpty());

    for (QWidget* w : {static_cast<QWidget*>(createButton_), static_cast<QWidget*>(joinButton_),
                       static_cast<QWidget*>(newCodeButton_), static_cast<QWidget*>(teamNameEdit_),
                       static_cast<QWidget*>(tagEdit_), static_cast<QWidget*>(passwordEdit_),
                       static_cast<QWidget*>(joinEdit_)}) {
        w->setEnabled(!busy_);
    }
    setShown(unregisterButton_, registered && r.phase == QLatin1String("registration"));
    unregisterButton_->setEnabled(!busy_);
}

void TournamentPanel::refreshInfo(const Registration& r, bool registered) {
    setShown(infoLabel_, !dock_.linked() || !registered);
    if (!dock_.linked()) {
        setLabelText(infoLabel_, esc(txt("Tournament.LinkFirst")));
        return;
    }
    if (registered) {
        return;
    }
    if (!r.hasCup || r.phase != QLatin1String("registration")) {
        setLabelText(infoLabel_, esc(txt("Tournament.RegisterWithCode")));
        return;
    }
    QString text = uplinktext::with("Tournament.OpenFor", r.cupName);
    if (r.startsAt >= 1) {
        text += QStringLiteral(" · ") +
                uplinktext::with("Tournament.StartsLower", formatServerTime(dock_.uplink(), r.startsAt));
    }
    setLabelText(infoLabel_, esc(text));
    // The service's code fills an empty field once; what the player typed stays.
    if (!r.code.isEmpty() && r.code != lastCodeFilled_ && codeEdit_->text().isEmpty()) {
        codeEdit_->setText(r.code);
        lastCodeFilled_ = r.code;
    }
}

void TournamentPanel::refreshHeadline(const Registration& r) {
    const QString phase = phaseLabel(r.phase.isEmpty() ? r.status : r.phase);
    QString headline = QStringLiteral("<b>") + esc(r.cupName) + QStringLiteral("</b> · ") + esc(phase);
    if (r.startsAt >= 1) {
        headline += QStringLiteral("<br><span style='color:#9AA3AA'>") +
                    esc(uplinktext::with("Tournament.Starts", formatServerTime(dock_.uplink(), r.startsAt))) +
                    QStringLiteral("</span>");
    }
    setLabelText(headlineLabel_, headline);

    if (!r.hasTeam) {
        setLabelText(teamLabel_, esc(txt("Tournament.InPool")));
        return;
    }
    QString team = esc(txt("Tournament.YourTeam")) + QStringLiteral(" <b>") + esc(r.teamName) +
                   QStringLiteral("</b> [") + esc(r.teamTag) + QStringLiteral("]");
    if (r.captain) {
        team += QStringLiteral(" (") + esc(txt("Tournament.Captain")) + QStringLiteral(")");
    }
    const Status& status = dock_.uplink().status();
    const QString me = status.playerName.isEmpty() ? dock_.settings().player_name : status.playerName;
    QStringList mates;
    for (const QString& name : r.members) {
        if (name != me && !name.isEmpty()) {
            mates.append(esc(name));
        }
    }
    if (!mates.isEmpty()) {
        team += QStringLiteral("<br><span style='color:#9AA3AA'>") + esc(txt("Tournament.Teammates")) +
                QLatin1Char(' ') + mates.join(QStringLiteral(", ")) + QStringLiteral("</span>");
    }
    setLabelText(teamLabel_, team);
}

void TournamentPanel::refreshReady(const Registration& r) {
    const QList<CheckItem> checks = collectChecks(checkInputs(dock_));
    setLabelText(checksLabel_, renderChecks(checks));
    if (r.ready) {
        readyButton_->setEnabled(!busy_ && !readyPending_);
        readyButton_->setToolTip(txt("Tournament.ReadyTip"));
    } else {
        const ReadyVerdict verdict = readyCheck(checks);
        readyButton_->setEnabled(verdict.ok && !busy_ && !readyPending_);
        readyButton_->setToolTip(verdict.ok ? txt("Tournament.ReadyTip") : verdict.failure);
    }
    const char* key = nullptr;
    if (r.ready) {
        key = r.teamReady ? "Tournament.ReadyTeamReady" : "Tournament.ReadyWaiting";
    } else if (r.teamReady) {
        key = "Tournament.CaptainReadied";
    } else {
        key = r.captain ? "Tournament.ReadyCaptain" : "Tournament.ReadyUp";
    }
    if (readyButton_->text() != txt(key)) {
        readyButton_->setText(txt(key));
    }
    setStyleSheetIfChanged(
        readyButton_, r.teamReady
                          ? QStringLiteral("QPushButton{background:#2F5A34;color:#E8F5E9;font-weight:700;}")
                          : QStringLiteral("QPushButton{background:#C99A3B;color:#0B0E10;font-weight:700;}"));
}

void TournamentPanel::refreshInvite(const Registration& r, bool shown) {
    setShown(inviteBox_, shown);
    if (!shown) {
        return;
    }
    QString text = esc(txt("Tournament.Invite")) + QStringLiteral(" <b style='color:#E0B24E'>") +
                   esc(r.inviteCode) + QStringLiteral("</b>");
    if (!r.inviteUrl.isEmpty()) {
        text +=
            QStringLiteral("<br><span style='color:#9AA3AA'>") + esc(r.inviteUrl) + QStringLiteral("</span>");
    }
    setLabelText(inviteLabel_, text);
    setShown(copyLinkButton_, !r.inviteUrl.isEmpty());
}

QString TournamentPanel::cleanTeamCode(const QString& pasted) {
    QString code = pasted.trimmed();
    const int join = code.indexOf(QLatin1String("/join/"));
    if (join >= 0) {
        code = code.mid(join + 6);
    }
    for (const QChar cut : {QLatin1Char('?'), QLatin1Char('#'), QLatin1Char('/')}) {
        const int at = code.indexOf(cut);
        if (at >= 0) {
            code.truncate(at);
        }
    }
    return code.trimmed().toUpper();
}

bool TournamentPanel::validTag(const QString& tag) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Z0-9]{2,5}$"));
    return pattern.match(tag).hasMatch();
}

void TournamentPanel::run(const char* failKey, const std::function<void(Uplink::DoneFn)>& call) {
    busy_ = true;
    dock_.refresh();
    QPointer<Dock> alive(&dock_);
    call([this, alive, failKey](const QString& error) {
        if (!alive) {
            return;
        }
        busy_ = false;
        alive->showNotice(error.isEmpty() ? QString() : uplinktext::with(failKey, error));
    });
}

void TournamentPanel::registerCup() {
    const QString code = codeEdit_->text().trimmed();
    if (code.isEmpty()) {
        dock_.showNotice(txt("Tournament.TypeCode"));
        return;
    }
    run("Tournament.RegisterFailed",
        [this, code](Uplink::DoneFn done) { dock_.uplink().registerTournament(code, std::move(done)); });
}

void TournamentPanel::unregisterCup() {
    const Registration r = dock_.uplink().status().registration;
    if (!r.hasCup || !r.registered) {
        return;
    }
    if (!dock_.confirm(txt("Tournament.Unregister"), uplinktext::with("Tournament.LeaveQ", r.cupName))) {
        return;
    }
    run("Tournament.UnregisterFailed",
        [this, r](Uplink::DoneFn done) { dock_.uplink().unregisterTournament(r.cupId, std::move(done)); });
}

void TournamentPanel::createTeam() {
    const QString name = teamNameEdit_->text().trimmed();
    const QString tag = tagEdit_->text().trimmed().toUpper();
    const QString password = passwordEdit_->text();
    if (name.isEmpty()) {
        dock_.showNotice(txt("Tournament.TypeTeamName"));
        return;
    }
    if (!validTag(tag)) {
        dock_.showNotice(txt("Tournament.BadTag"));
        return;
    }
    if (!password.isEmpty() && password.size() < 4) {
        dock_.showNotice(txt("Tournament.ShortPassword"));
        return;
    }
    const QString cupId = dock_.uplink().status().registration.cupId;
    run("Tournament.CreateFailed", [this, cupId, name, tag, password](Uplink::DoneFn done) {
        dock_.uplink().createTeam(cupId, name, tag, password, std::move(done));
    });
}

void TournamentPanel::joinTeam() {
    const QString code = cleanTeamCode(joinEdit_->text());
    if (code.isEmpty()) {
        dock_.showNotice(txt("Tournament.PasteCode"));
        return;
    }
    run("Tournament.JoinFailed",
        [this, code](Uplink::DoneFn done) { dock_.uplink().joinTeamCode(code, std::move(done)); });
}

void TournamentPanel::newCode() {
    if (!dock_.confirm(txt("Tournament.NewCode"), txt("Tournament.NewCodeQ"))) {
        return;
    }
    const QString cupId = dock_.uplink().status().registration.cupId;
    run("Tournament.NewCodeFailed",
        [this, cupId](Uplink::DoneFn done) { dock_.uplink().newTeamCode(cupId, std::move(done)); });
}

void TournamentPanel::toggleReady() {
    const Registration r = dock_.uplink().status().registration;
    if (!r.ready) {
        const ReadyVerdict verdict = readyCheck(collectChecks(checkInputs(dock_)));
        if (!verdict.ok) {
            dock_.showNotice(verdict.failure);
            return;
        }
    }
    // Kept disabled until the reply, even across the 1 s redraws.
    readyPending_ = true;
    readyButton_->setEnabled(false);
    QPointer<Dock> alive(&dock_);
    dock_.uplink().tournamentReady(r.cupId, !r.ready, [this, alive](const QString& error) {
        if (!alive) {
            return;
        }
        readyPending_ = false;
        readyButton_->setEnabled(true);
        if (!error.isEmpty()) {
            alive->showNotice(uplinktext::with("Tournament.ReadyFailed", error));
        } else {
            alive->refresh();
        }
    });
}
