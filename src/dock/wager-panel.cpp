#include "wager-panel.h"

#include "copy-button.h"
#include "dock.h"
#include "flow-layout.h"
#include "format.h"
#include "plugin/lang.h"
#include "stream-checks.h"
#include "uplink/texts.h"
#include "widgets.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr qint64 kRestartWindowMs = 300000;

QString esc(const QString& text) {
    return text.toHtmlEscaped();
}

QString txt(const char* key) {
    return Lang::text(key);
}

QLabel* richLabel() {
    QLabel* label = makeLabel(QString());
    label->setTextFormat(Qt::RichText);
    return label;
}

QPushButton* button(const char* key, const char* tipKey = nullptr) {
    auto* b = new QPushButton(txt(key));
    if (tipKey) {
        b->setToolTip(txt(tipKey));
    }
    return b;
}

void setButtonText(QPushButton* button, const QString& text) {
    if (button->text() != text) {
        button->setText(text);
    }
}

QString span(const char* colour, const QString& escaped) {
    return QStringLiteral("<span style='color:%1'>%2</span>").arg(QLatin1String(colour), escaped);
}

} // namespace

// What one refresh knows about the wager.
struct WagerPanel::Context {
    const WagerInfo& w;
    bool hasWager;
    bool open;
    bool mine;
    qint64 now;
    QString playerId;
};

WagerPanel::WagerPanel(Dock& dock, QVBoxLayout* layout) : dock_(dock) {
    build(layout);
    nameWidgets();
    connectActions();
}

void WagerPanel::nameWidgets() {
    // Stable names for tests and screenshots; the texts change with the language.
    introLabel_->setObjectName(QStringLiteral("wagerIntro"));
    joinCreate_->setObjectName(QStringLiteral("wagerJoinCreate"));
    codeEdit_->setObjectName(QStringLiteral("wagerCode"));
    joinButton_->setObjectName(QStringLiteral("wagerJoin"));
    formatBox_->setObjectName(QStringLiteral("wagerFormat"));
    lengthBox_->setObjectName(QStringLiteral("wagerLength"));
    createButton_->setObjectName(QStringLiteral("wagerCreate"));
    headlineLabel_->setObjectName(QStringLiteral("wagerHeadline"));
    resultLabel_->setObjectName(QStringLiteral("wagerResult"));
    codeRows_[0]->setObjectName(QStringLiteral("wagerCodeRow1"));
    codeRows_[1]->setObjectName(QStringLiteral("wagerCodeRow2"));
    codeLabels_[0]->setObjectName(QStringLiteral("wagerCode1"));
    codeLabels_[1]->setObjectName(QStringLiteral("wagerCode2"));
    copyButtons_[0]->setObjectName(QStringLiteral("wagerCopy1"));
    copyButtons_[1]->setObjectName(QStringLiteral("wagerCopy2"));
    sidesLabel_->setObjectName(QStringLiteral("wagerSides"));
    checksLabel_->setObjectName(QStringLiteral("wagerChecks"));
    readyButton_->setObjectName(QStringLiteral("wagerReady"));
    ruleLabel_->setObjectName(QStringLiteral("wagerRule"));
    leaveButton_->setObjectName(QStringLiteral("wagerLeave"));
    startButton_->setObjectName(QStringLiteral("wagerStartNow"));
    stopButton_->setObjectName(QStringLiteral("wagerStop"));
    restartButton_->setObjectName(QStringLiteral("wagerRestart"));
    endButton_->setObjectName(QStringLiteral("wagerEnd"));
    newButton_->setObjectName(QStringLiteral("wagerNew"));
    hintLabel_->setObjectName(QStringLiteral("wagerHint"));
}

void WagerPanel::build(QVBoxLayout* layout) {
    layout->addWidget(makeLabel(txt("Mode.Wager")));
    introLabel_ = richLabel();
    layout->addWidget(introLabel_);
    buildJoinCreate(layout);
    headlineLabel_ = richLabel();
    resultLabel_ = richLabel();
    resultLabel_->setProperty("role", QStringLiteral("result"));
    layout->addWidget(headlineLabel_);
    layout->addWidget(resultLabel_);
    for (int i = 0; i < 2; ++i) {
        codeRows_[i] = new QWidget();
        auto* row = new QHBoxLayout(codeRows_[i]);
        row->setContentsMargins(0, 0, 0, 0);
        codeLabels_[i] = richLabel();
        codeLabels_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        copyButtons_[i] = button("Common.Copy");
        row->addWidget(codeLabels_[i], 1);
        row->addWidget(copyButtons_[i]);
        layout->addWidget(codeRows_[i]);
    }
    sidesLabel_ = richLabel();
    checksLabel_ = richLabel();
    readyButton_ = button("Wager.Ready");
    readyButton_->setProperty("role", QStringLiteral("primary"));
    ruleLabel_ = makeLabel(txt("Stream.Rule"), QStringLiteral("lock"));
    layout->addWidget(sidesLabel_);
    layout->addWidget(checksLabel_);
    layout->addWidget(readyButton_);
    layout->addWidget(ruleLabel_);
    buildButtons(layout);
    hintLabel_ = makeLabel(txt("Wager.Hint"), QStringLiteral("muted"));
    layout->addWidget(hintLabel_);
}

void WagerPanel::buildJoinCreate(QVBoxLayout* layout) {
    joinCreate_ = new QWidget();
    auto* area = new QVBoxLayout(joinCreate_);
    area->setContentsMargins(0, 0, 0, 0);
    auto* joinRow = new QHBoxLayout();
    codeEdit_ = new QLineEdit();
    codeEdit_->setPlaceholderText(QStringLiteral("W-XXXXX"));
    codeEdit_->setMaxLength(12);
    codeEdit_->setToolTip(txt("Wager.CodeTip"));
    joinButton_ = button("Wager.Join");
    joinRow->addWidget(codeEdit_, 1);
    joinRow->addWidget(joinButton_);
    area->addLayout(joinRow);

    auto* createRow = new QHBoxLayout();
    formatBox_ = new QComboBox();
    for (const char* format : {"1v1", "2v2", "3v3", "4v4", "5v5"}) {
        formatBox_->addItem(QString::fromLatin1(format));
    }
    lengthBox_ = new QComboBox();
    for (int minutes : {30, 45, 60, 90, 120}) {
        lengthBox_->addItem(formatMinutes(minutes), minutes);
    }
    lengthBox_->setCurrentIndex(lengthBox_->findData(60));
    createButton_ = button("Wager.Create");
    createButton_->setProperty("role", QStringLiteral("primary"));
    createRow->addWidget(formatBox_);
    createRow->addWidget(lengthBox_);
    createRow->addWidget(createButton_, 1);
    area->addLayout(createRow);
    layout->addWidget(joinCreate_);
}

void WagerPanel::buildButtons(QVBoxLayout* layout) {
    // The player's own moves in one row, the creator's control of the match
    // in the other.
    auto* own = new FlowLayout(nullptr, 6, 6);
    leaveButton_ = button("Wager.Leave");
    startButton_ = button("Wager.StartNow", "Wager.StartNowTip");
    newButton_ = button("Wager.New");
    own->addWidget(leaveButton_);
    own->addWidget(startButton_);
    own->addWidget(newButton_);
    auto* control = new FlowLayout(nullptr, 6, 6);
    stopButton_ = button("Wager.Stop", "Wager.StopTip");
    restartButton_ = button("Wager.Restart", "Wager.RestartTip");
    endButton_ = button("Wager.End", "Wager.EndTip");
    control->addWidget(stopButton_);
    control->addWidget(restartButton_);
    control->addWidget(endButton_);
    layout->addLayout(own);
    layout->addLayout(control);
}

void WagerPanel::connectActions() {
    QObject::connect(joinButton_, &QPushButton::clicked, [this] { join(); });
    QObject::connect(codeEdit_, &QLineEdit::returnPressed, [this] { join(); });
    QObject::connect(createButton_, &QPushButton::clicked, [this] { create(); });
    QObject::connect(readyButton_, &QPushButton::clicked, [this] { toggleReady(); });
    QObject::connect(leaveButton_, &QPushButton::clicked, [this] { leave(); });
    QObject::connect(startButton_, &QPushButton::clicked, [this] {
        const QString id = dock_.uplink().status().wager.id;
        if (!id.isEmpty()) {
            run("Wager.StartFailed",
                [this, id](Uplink::DoneFn done) { dock_.uplink().startWager(id, done); });
        }
    });
    QObject::connect(stopButton_, &QPushButton::clicked, [this] {
        confirmThen("Wager.Stop", "Wager.StopQ", "Wager.StopFailed", &Uplink::cancelWager);
    });
    QObject::connect(restartButton_, &QPushButton::clicked, [this] {
        confirmThen("Wager.RestartTitle", "Wager.RestartQ", "Wager.RestartFailed", &Uplink::restartWager);
    });
    QObject::connect(endButton_, &QPushButton::clicked, [this] {
        confirmThen("Wager.End", "Wager.EndQ", "Wager.EndFailed", &Uplink::endWager);
    });
    QObject::connect(newButton_, &QPushButton::clicked, [this] {
        dock_.uplink().dismissWager();
        dock_.refresh();
    });
    for (int i = 0; i < 2; ++i) {
        QObject::connect(copyButtons_[i], &QPushButton::clicked,
                         [this, i] { copyWithFeedback(copyButtons_[i], codes_[i]); });
    }
}

bool WagerPanel::mine(const WagerInfo& w) const {
    const QString& me = dock_.settings().player_id;
    return w.mine || (!me.isEmpty() && w.creatorId == me);
}

void WagerPanel::refresh() {
    const bool linked = dock_.linked();
    const WagerInfo& w = dock_.uplink().status().wager;
    const bool hasWager = linked && !w.id.isEmpty();
    const Context c{w,
                    hasWager,
                    hasWager && w.phase == QLatin1String("open"),
                    hasWager && mine(w),
                    dock_.uplink().serverNow(),
                    dock_.settings().player_id};

    refreshIntro(linked, hasWager);
    setShown(headlineLabel_, hasWager);
    if (hasWager) {
        setLabelText(headlineLabel_, headline(c));
    }
    refreshCodes(c);
    const bool drawn = hasWager && w.phase != QLatin1String("cancelled");
    myReady_ = false;
    if (drawn) {
        setLabelText(sidesLabel_, sides(c));
    }
    setShown(sidesLabel_, drawn);
    refreshButtons(c);
    setShown(hintLabel_, c.open);
    setShown(ruleLabel_, linked && (!hasWager || c.open || w.phase == QLatin1String("countdown")));
    const QString res = hasWager ? result(c) : QString();
    setShown(resultLabel_, !res.isEmpty());
    setLabelText(resultLabel_, res);
}

void WagerPanel::refreshIntro(bool linked, bool hasWager) {
    setLabelText(introLabel_, esc(txt(linked ? "Wager.Intro" : "Wager.LinkFirst")));
    setShown(introLabel_, !hasWager);
    setShown(joinCreate_, linked && !hasWager);
    for (QWidget* w : {static_cast<QWidget*>(codeEdit_), static_cast<QWidget*>(joinButton_),
                       static_cast<QWidget*>(formatBox_), static_cast<QWidget*>(lengthBox_),
                       static_cast<QWidget*>(createButton_)}) {
        w->setEnabled(!wagerBusy_);
    }
}

QString WagerPanel::headline(const Context& c) const {
    const WagerInfo& w = c.w;
    QString text = QStringLiteral("<b>%1</b> · %2").arg(esc(w.format), esc(formatMinutes(w.minutes)));
    const QString& phase = w.phase;
    if (phase == QLatin1String("open")) {
        text += QStringLiteral(" · ") + span("#9AA3AA", esc(txt("Wager.GettingReady")));
    } else if (phase == QLatin1String("countdown")) {
        text += QStringLiteral(" · ") +
                span("#E0B24E", esc(uplinktext::with("Wager.StartsIn", clockText(w.startsAt - c.now))));
    } else if (phase == QLatin1String("live")) {
        text += QStringLiteral(" · ") +
                span("#A9B86B", esc(uplinktext::with("Wager.LiveLeft", clockText(w.endsAt - c.now))));
    } else if (phase == QLatin1String("ended")) {
        text += QStringLiteral(" · ") + span("#9AA3AA", esc(txt("Wager.EndedSoon")));
    } else if (phase == QLatin1String("final")) {
        text += QStringLiteral(" · ") + span("#9AA3AA", esc(txt("Wager.Final")));
    }
    if (!c.mine && !w.creatorName.isEmpty()) {
        text +=
            QStringLiteral("<br>") + span("#9AA3AA", esc(uplinktext::with("Wager.CreatedBy", w.creatorName)));
    }
    return text;
}

void WagerPanel::refreshCodes(const Context& c) {
    QString labels[2];
    codes_[0].clear();
    codes_[1].clear();
    if (c.open && !c.mine) {
        if (c.w.teamSize >= 2 && !c.w.myCode.isEmpty()) {
            labels[0] = txt("Wager.YourSide");
            codes_[0] = c.w.myCode;
        }
    } else if (c.open) {
        if (c.w.teamSize >= 2) {
            labels[0] = txt("Wager.YourTeam");
            codes_[0] = c.w.codeA.isEmpty() ? c.w.myCode : c.w.codeA;
        }
        labels[1] = txt("Wager.Opponents");
        codes_[1] = c.w.codeB;
    }
    for (int i = 0; i < 2; ++i) {
        setShown(codeRows_[i], !labels[i].isEmpty());
        if (labels[i].isEmpty()) {
            continue;
        }
        QString text = span("#9AA3AA", esc(labels[i])) + QStringLiteral("&nbsp; ");
        text +=
            codes_[i].isEmpty()
                ? span("#9AA3AA", esc(txt("Wager.CodeNotHere")))
                : QStringLiteral("<span style='font-family:\"IBM Plex Mono\";font-size:15px;font-weight:600;"
                                 "color:#E0B24E'>%1</span>")
                      .arg(esc(codes_[i]));
        setLabelText(codeLabels_[i], text);
        copyButtons_[i]->setEnabled(!codes_[i].isEmpty());
    }
}

QString WagerPanel::sides(const Context& c) {
    const bool aMine = c.w.side == QLatin1String("a");
    const bool bMine = c.w.side == QLatin1String("b");
    const QString a = side(c, c.w.sideA, QStringLiteral("a"));
    const QString b = side(c, c.w.sideB, QStringLiteral("b"));
    return QStringLiteral("<table width='100%' cellspacing='0' cellpadding='4'><tr>"
                          "<td width='50%' valign='top' style='%1'>%2</td>"
                          "<td width='50%' valign='top' style='%3'>%4</td></tr></table>")
        .arg(aMine ? QStringLiteral("background:#1A2016;") : QString(), a,
             bMine ? QStringLiteral("background:#1A2016;") : QString(), b);
}

QString WagerPanel::side(const Context& c, const WagerSide& s, const QString& key) {
    const bool mySide = c.w.side == key;
    const QString name = s.name.isEmpty() ? uplinktext::with("Wager.Side", key.toUpper()) : s.name;
    QString html = QStringLiteral("<div style='color:%1;font-weight:700'>%2%3</div>")
                       .arg(QLatin1String(mySide ? "#E0B24E" : "#9AA3AA"), esc(name),
                            mySide ? QStringLiteral(" · ") + esc(txt("Wager.You")) : QString());
    if (!c.open) {
        const bool won = c.w.phase == QLatin1String("final") && c.w.winner == key;
        const char* colour = won ? "#5FB36B" : (s.score < 0 ? "#D0645A" : "#E8E5DD");
        html += QStringLiteral("<div style='font-size:16px;font-weight:700;color:%1'>%2</div>")
                    .arg(QLatin1String(colour), formatMoney(s.score));
    }
    const size_t slotCount = std::max(static_cast<size_t>(std::max(c.w.teamSize, 0)), s.players.size());
    for (size_t i = 0; i < slotCount; ++i) {
        if (i >= s.players.size()) {
            html += QStringLiteral("<div style='color:#6F7880'>") + esc(txt("Wager.Waiting")) +
                    QStringLiteral("</div>");
            continue;
        }
        const WagerPlayer& p = s.players[i];
        const bool me = !c.playerId.isEmpty() && p.id == c.playerId;
        if (me) {
            myReady_ = p.ready;
        }
        QString line;
        if (c.open) {
            line += p.ready ? QStringLiteral("<span style='color:#5FB36B;font-weight:700'>&#10004;</span> ")
                            : QStringLiteral("<span style='color:#6F7880'>&middot;</span> ");
        }
        line += QStringLiteral("<span style='%1'>%2</span>")
                    .arg(me ? QStringLiteral("font-weight:700") : QString(), esc(p.name));
        if (!c.open) {
            line += QLatin1Char(' ') + span(p.score < 0 ? "#D0645A" : "#9AA3AA", formatMoney(p.score));
        }
        if (!p.note.isEmpty()) {
            line += QStringLiteral(" <span style='color:#D0645A;font-size:10px'>") + esc(p.note) +
                    QStringLiteral("</span>");
        }
        html += QStringLiteral("<div>") + line + QStringLiteral("</div>");
    }
    return html;
}

void WagerPanel::refreshButtons(const Context& c) {
    const QString& phase = c.w.phase;
    setShown(readyButton_, c.open);
    setShown(leaveButton_, c.open);
    setShown(checksLabel_, c.open);
    if (c.open) {
        const QList<CheckItem> checks = collectChecks(checkInputs(dock_));
        setLabelText(checksLabel_, renderChecks(checks));
        setButtonText(readyButton_, txt(myReady_ ? "Wager.ReadyOn" : "Wager.Ready"));
        setState(readyButton_, myReady_ ? QStringLiteral("on") : QString());
        if (myReady_) {
            readyButton_->setEnabled(!wagerBusy_);
        } else {
            const ReadyVerdict verdict = readyCheck(checks);
            readyButton_->setEnabled(verdict.ok && !wagerBusy_);
            readyButton_->setToolTip(verdict.ok ? QString() : verdict.failure);
        }
        setButtonText(leaveButton_, txt(c.mine ? "Wager.Cancel" : "Wager.Leave"));
    }
    setShown(startButton_, c.open && c.mine);
    const bool live = c.hasWager && phase == QLatin1String("live");
    const qint64 sinceStart = c.now - c.w.startsAt;
    const bool early = live && c.w.startsAt > 0 && sinceStart <= kRestartWindowMs;
    const bool canStop = c.mine && ((c.hasWager && phase == QLatin1String("countdown")) || early);
    setShown(stopButton_, canStop);
    setShown(restartButton_, canStop);
    setButtonText(restartButton_, live ? uplinktext::with("Wager.RestartIn",
                                                          clockText(c.w.startsAt + kRestartWindowMs - c.now))
                                       : txt("Wager.Restart"));
    setShown(endButton_, c.mine && live);
    setShown(newButton_,
             c.hasWager && (phase == QLatin1String("final") || phase == QLatin1String("cancelled")));
    for (QPushButton* b : {leaveButton_, startButton_, stopButton_, restartButton_, endButton_, newButton_}) {
        b->setEnabled(!wagerBusy_);
    }
}

QString WagerPanel::result(const Context& c) const {
    const WagerInfo& w = c.w;
    const char* colour = nullptr;
    QString verdict;
    if (w.phase == QLatin1String("cancelled")) {
        colour = "#9AA3AA";
        verdict = txt("Wager.Cancelled");
    } else if (w.phase == QLatin1String("final") && !w.winner.isEmpty()) {
        if (w.winner == QLatin1String("draw")) {
            colour = "#E0B24E";
            verdict = txt("Wager.Draw");
        } else if (!w.side.isEmpty() && w.winner == w.side) {
            colour = "#5FB36B";
            verdict = txt("Wager.Won");
        } else {
            colour = "#D0645A";
            verdict = txt("Wager.Lost");
        }
    }
    if (!colour) {
        return QString();
    }
    QString html = span(colour, esc(verdict));
    if (w.phase != QLatin1String("final")) {
        return html;
    }
    QStringList details;
    if (w.ratingKnown) {
        const QString rating = Lang::text("Wager.Rating");
        details << rating.arg(QString::number(w.ratingAfter),
                              w.ratingDelta >= 0 ? QStringLiteral("+") : QString(),
                              QString::number(w.ratingDelta));
    }
    if (!w.ladder) {
        details << txt("Wager.NotLadder");
    }
    if (!details.isEmpty()) {
        html +=
            QStringLiteral("<br><span style='font-family:\"IBM Plex Sans\";font-size:12px;font-weight:600;"
                           "color:#9AA3AA'>%1</span>")
                .arg(esc(details.join(QStringLiteral(" · "))));
    }
    return html;
}

void WagerPanel::run(const char* failKey, const std::function<void(Uplink::DoneFn)>& call) {
    wagerBusy_ = true;
    dock_.refresh();
    QPointer<Dock> alive(&dock_);
    call([this, alive, failKey](const QString& error) {
        if (!alive) {
            return;
        }
        wagerBusy_ = false;
        alive->showNotice(error.isEmpty() ? QString() : uplinktext::with(failKey, error));
    });
}

void WagerPanel::join() {
    const QString code = codeEdit_->text().trimmed();
    if (code.isEmpty()) {
        dock_.showNotice(txt("Wager.TypeCode"));
        return;
    }
    QPointer<QLineEdit> field(codeEdit_);
    run("Wager.JoinFailed", [this, code, field](Uplink::DoneFn done) {
        dock_.uplink().joinWager(code, [done, field](const QString& error) {
            if (error.isEmpty() && field) {
                field->clear();
            }
            done(error);
        });
    });
}

void WagerPanel::create() {
    const QString format = formatBox_->currentText();
    const int minutes = lengthBox_->currentData().toInt();
    run("Wager.CreateFailed", [this, format, minutes](Uplink::DoneFn done) {
        dock_.uplink().createWager(
            format, minutes, [done](const QString&, const QString&, const QString& error) { done(error); });
    });
}

void WagerPanel::toggleReady() {
    const WagerInfo& w = dock_.uplink().status().wager;
    if (w.id.isEmpty()) {
        return;
    }
    const bool ready = myReady_;
    if (!ready) {
        const ReadyVerdict verdict = readyCheck(collectChecks(checkInputs(dock_)));
        if (!verdict.ok) {
            dock_.showNotice(verdict.failure);
            return;
        }
    }
    const QString id = w.id;
    run("Wager.ReadyFailed",
        [this, id, ready](Uplink::DoneFn done) { dock_.uplink().setReady(id, !ready, done); });
}

void WagerPanel::leave() {
    const WagerInfo& w = dock_.uplink().status().wager;
    if (w.id.isEmpty()) {
        return;
    }
    const QString id = w.id;
    if (!mine(w)) {
        run("Wager.LeaveFailed", [this, id](Uplink::DoneFn done) { dock_.uplink().leaveWager(id, done); });
        return;
    }
    if (dock_.confirm(txt("Wager.Cancel"), txt("Wager.CancelQ"))) {
        run("Wager.CancelFailed", [this, id](Uplink::DoneFn done) { dock_.uplink().cancelWager(id, done); });
    }
}

void WagerPanel::confirmThen(const char* title, const char* question, const char* failKey,
                             void (Uplink::*call)(const QString&, Uplink::DoneFn)) {
    const QString id = dock_.uplink().status().wager.id;
    if (id.isEmpty() || !dock_.confirm(txt(title), txt(question))) {
        return;
    }
    run(failKey, [this, id, call](Uplink::DoneFn done) { (dock_.uplink().*call)(id, done); });
}
