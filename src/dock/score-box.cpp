// The score box at the top of the dock: the player's money in the cup or the
// wager, and the place or the sides' totals below it.
#include "dock.h"

#include "format.h"
#include "plugin/lang.h"
#include "widgets.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

void Dock::buildScore(QVBoxLayout* column) {
    scoreBox_ = makeBox(content_);
    scoreBox_->setObjectName(QStringLiteral("scoreBox"));
    auto* box = new QVBoxLayout(scoreBox_);
    box->setContentsMargins(10, 8, 10, 8);
    box->setSpacing(2);
    scoreTitle_ = makeLabel(QString(), QStringLiteral("muted"), scoreBox_);
    scoreTitle_->setObjectName(QStringLiteral("scoreTitle"));
    score_ = makeLabel(QString(), QStringLiteral("score"), scoreBox_);
    score_->setObjectName(QStringLiteral("score"));
    score_->setWordWrap(false);
    score_->setTextFormat(Qt::PlainText);
    scoreLine_ = makeLabel(QString(), QStringLiteral("muted"), scoreBox_);
    scoreLine_->setObjectName(QStringLiteral("scoreLine"));
    scoreLine_->setTextFormat(Qt::PlainText);
    box->addWidget(scoreTitle_);
    box->addWidget(score_);
    box->addWidget(scoreLine_);
    column->addWidget(scoreBox_);
}

void Dock::refreshScore(const Status& s) {
    const bool wagerKind = s.cupKind == QLatin1String("wager");
    setLabelText(scoreTitle_, Lang::text(wagerKind ? "Score.WagerTitle" : "Score.CupTitle"));
    QString value;
    QString style;
    QString line;
    if (!s.hasMe) {
        value = QStringLiteral("$0");
        style = QStringLiteral("color:#6F7880;");
        line = Lang::text("Score.StartsAtZero");
    } else {
        value = formatMoney(s.score);
        style = s.score < 0 ? QStringLiteral("color:#D0645A;") : QStringLiteral("color:#A9B86B;");
        const QString& side = s.wager.side;
        if (wagerKind && (side == QLatin1String("a") || side == QLatin1String("b"))) {
            const bool onA = side == QLatin1String("a");
            const WagerSide& mine = onA ? s.wager.sideA : s.wager.sideB;
            const WagerSide& other = onA ? s.wager.sideB : s.wager.sideA;
            line = Lang::text("Score.WagerSides").arg(formatMoney(mine.score), formatMoney(other.score));
        } else {
            line = Lang::text("Score.Rank").arg(ordinal(s.rank));
            if (!s.teamId.isEmpty()) {
                line += QStringLiteral(" · ") +
                        Lang::text("Score.Team").arg(formatMoney(s.teamScore), ordinal(s.teamRank));
            }
        }
        if (!s.counted) {
            line += QStringLiteral(" · ") + Lang::text("Score.NotCounted");
        }
    }
    setLabelText(score_, value);
    if (score_->styleSheet() != style) {
        score_->setStyleSheet(style);
    }
    setLabelText(scoreLine_, line);
}
