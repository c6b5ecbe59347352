// The reader box: whether the game's HUD is being read and from which OBS
// source, the last lines read, the cup lock, and the source menu.
#include "dock.h"

#include "format.h"
#include "plugin/lang.h"
#include "widgets.h"

#include <obs.h>

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The HUD reader's reasons, in the words of the module language.
QString reasonText(const QString& reason) {
    static const struct {
        const char* reason;
        const char* key;
    } kReasons[] = {{"no money line", "Reader.WhyNoMoneyLine"},
                    {"balance not at the HUD's right margin", "Reader.WhyNotAtMargin"},
                    {"balance unreadable", "Reader.WhyUnreadable"},
                    {"balance uncertain", "Reader.WhyUncertain"}};
    for (const auto& entry : kReasons) {
        if (reason == QLatin1String(entry.reason)) {
            return Lang::text(entry.key);
        }
    }
    return reason;
}

QString dotStyle(const char* colour) {
    return QStringLiteral("background:%1;border-radius:5px;").arg(QLatin1String(colour));
}

} // namespace

void Dock::buildReader(QVBoxLayout* column) {
    readerBox_ = makeBox(content_);
    readerBox_->setObjectName(QStringLiteral("readerBox"));
    auto* box = new QVBoxLayout(readerBox_);
    box->setContentsMargins(10, 8, 10, 8);
    box->setSpacing(4);
    auto* status = new QHBoxLayout();
    readerDot_ = new QLabel(readerBox_);
    readerDot_->setObjectName(QStringLiteral("readerDot"));
    readerDot_->setFixedSize(10, 10);
    status->addWidget(readerDot_, 0, Qt::AlignTop);
    readerText_ = makeLabel(QString(), QString(), readerBox_);
    readerText_->setObjectName(QStringLiteral("readerText"));
    readerText_->setTextFormat(Qt::PlainText);
    status->addWidget(readerText_, 1);
    box->addLayout(status);
    readerLast_ = makeLabel(QString(), QStringLiteral("muted"), readerBox_);
    readerLast_->setObjectName(QStringLiteral("readerLast"));
    readerLast_->setTextFormat(Qt::PlainText);
    readerLast_->hide();
    box->addWidget(readerLast_);
    readerLock_ = makeLabel(QString(), QStringLiteral("lock"), readerBox_);
    readerLock_->setObjectName(QStringLiteral("readerLock"));
    readerLock_->setTextFormat(Qt::PlainText);
    readerLock_->hide();
    box->addWidget(readerLock_);

    // Menu and button on lines of their own: side by side, a long translation
    // of the button forced the dock wider than OBS gives it.
    auto* pick = new QVBoxLayout();
    sourceMenu_ = new QComboBox(readerBox_);
    sourceMenu_->setObjectName(QStringLiteral("sourceMenu"));
    sourceMenu_->setToolTip(Lang::text("Reader.SourceTip"));
    sourceMenu_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    sourceMenu_->setMinimumContentsLength(8);
    connect(sourceMenu_, QOverload<int>::of(&QComboBox::activated), this, &Dock::sourceChosen);
    pick->addWidget(sourceMenu_);
    testButton_ = new QPushButton(Lang::text("Reader.Test"), readerBox_);
    testButton_->setObjectName(QStringLiteral("readerTest"));
    connect(testButton_, &QPushButton::clicked, this, &Dock::openTest);
    pick->addWidget(testButton_, 0, Qt::AlignLeft);
    box->addLayout(pick);
    column->addWidget(readerBox_);
}

ReaderStatus Dock::readerStatus() const {
    return readerForTesting_ ? readerForTesting_() : engine_->readerStatus();
}

void Dock::fillSources() {
    fillingSources_ = true;
    // Without a running libobs (a test, a tool) there is nothing to list.
    QStringList sources;
    if (sourcesForTesting_) {
        sources = sourcesForTesting_();
    } else if (obs_initialized()) {
        sources = Engine::candidateSources();
    }
    const QString chosen = settings().source;
    sourceMenu_->clear();
    sourceMenu_->addItem(Lang::text("Reader.Automatic"), QString());
    for (const QString& name : sources) {
        sourceMenu_->addItem(name, name);
    }
    int index = 0;
    if (!chosen.isEmpty()) {
        index = sourceMenu_->findData(chosen);
        if (index < 0) {
            // A source no longer offered stays listed, so the choice is not lost silently.
            sourceMenu_->addItem(chosen, chosen);
            index = sourceMenu_->count() - 1;
        }
    }
    sourceMenu_->setCurrentIndex(index);
    offeredSources_ = sources.size();
    fillingSources_ = false;
}

void Dock::sourceChosen(int index) {
    if (fillingSources_ || index < 0) {
        return;
    }
    if (!engine_->pickSource(sourceMenu_->itemData(index).toString())) {
        showNotice(Lang::text("Reader.Locked"));
        fillSources();
    }
    refresh();
}

void Dock::refreshReader(const ReaderStatus& r) {
    QString text;
    const char* colour = "#6F7880";
    if (!r.modelLoaded && !r.modelError.isEmpty()) {
        text = Lang::text("Reader.Unavailable").arg(r.modelError);
    } else if (r.source.isEmpty()) {
        text = Lang::text(r.automatic ? "Reader.Looking" : "Reader.PickSource");
    } else if (!r.recentHud) {
        colour = "#C99A3B";
        text = Lang::text("Reader.NoHud").arg(r.source);
        if (!r.statusText.isEmpty()) {
            text += QStringLiteral(" (") + reasonText(r.statusText) + QLatin1Char(')');
        }
    } else {
        colour = "#8C9A5B";
        const QString balance = r.balanceKnown ? formatMoney(r.balance) : QStringLiteral("...");
        text = Lang::text("Reader.Reading")
                   .arg(r.source, balance, QString::number(r.sourceWidth), QString::number(r.sourceHeight));
    }
    setLabelText(readerText_, text);
    const QString dot = dotStyle(colour);
    if (readerDot_->styleSheet() != dot) {
        readerDot_->setStyleSheet(dot);
    }
    const QStringList last = r.recentLines.mid(0, 3);
    setLabelText(readerLast_, last.isEmpty()
                                  ? QString()
                                  : Lang::text("Reader.Last").arg(last.join(QStringLiteral(" · "))));
    setShown(readerLast_, !last.isEmpty());
    refreshLockLabel(r);

    sourceMenu_->setEnabled(!r.locked);
    // The dock is built before OBS has loaded the scenes, so a menu that
    // offers no source yet is filled again (a stored choice alone counts as none).
    if (offeredSources_ == 0 && !fillingSources_ && !r.locked) {
        fillSources();
    }
}

void Dock::refreshLockLabel(const ReaderStatus& r) {
    QString text;
    QString style;
    if (r.locked) {
        text = Lang::text("Reader.LockedFor").arg(r.source);
        if (r.info.exists && !r.info.exe.isEmpty()) {
            text += QStringLiteral(" (") + r.info.exe + QLatin1Char(')');
        }
        if (r.changedDuringCup) {
            text += QLatin1Char('\n') + Lang::text("Reader.SourceChanged");
            style = QStringLiteral("color:#D0645A;");
        } else if (r.info.exists && !r.info.active) {
            text += QLatin1Char('\n') + Lang::text("Reader.NotOnStream");
        }
    }
    setLabelText(readerLock_, text);
    if (readerLock_->styleSheet() != style) {
        readerLock_->setStyleSheet(style);
    }
    setShown(readerLock_, r.locked);
}
