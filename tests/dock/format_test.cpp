#include "dock_fixture.h"

#include "dock/flow-layout.h"
#include "dock/format.h"
#include "plugin/lang.h"

#include <QPushButton>
#include <QWidget>

#include <memory>

// The shared formatting functions and the flow layout's geometry.

TEST(DockFormat, MoneyClockAndMinutes) {
    useLanguage(QStringLiteral("en"));
    EXPECT_EQ(formatMoney(1234567, true), QStringLiteral("+$1,234,567"));
    EXPECT_EQ(formatMoney(-5), QStringLiteral("-$5"));
    EXPECT_EQ(formatMoney(0, true), QStringLiteral("$0"));
    EXPECT_EQ(formatMoney(-1000), QStringLiteral("-$1,000"));
    EXPECT_EQ(formatMoney(std::numeric_limits<qint64>::min()), QStringLiteral("-$9,223,372,036,854,775,808"));
    EXPECT_EQ(clockText(3599999), QStringLiteral("59:59"));
    EXPECT_EQ(clockText(3600000), QStringLiteral("1:00:00"));
    EXPECT_EQ(clockText(-5), QStringLiteral("00:00"));
    EXPECT_EQ(formatMinutes(45), QStringLiteral("45 min"));
    EXPECT_EQ(formatMinutes(120), QStringLiteral("2 h"));
    EXPECT_EQ(formatMinutes(65), QStringLiteral("1 h 05 min"));
}

TEST(DockFormat, OrdinalsInEnglishAndGerman) {
    useLanguage(QStringLiteral("en"));
    EXPECT_EQ(ordinal(1), QStringLiteral("1st"));
    EXPECT_EQ(ordinal(2), QStringLiteral("2nd"));
    EXPECT_EQ(ordinal(3), QStringLiteral("3rd"));
    EXPECT_EQ(ordinal(11), QStringLiteral("11th"));
    EXPECT_EQ(ordinal(12), QStringLiteral("12th"));
    EXPECT_EQ(ordinal(13), QStringLiteral("13th"));
    EXPECT_EQ(ordinal(22), QStringLiteral("22nd"));
    EXPECT_EQ(ordinal(111), QStringLiteral("111th"));
    EXPECT_EQ(ordinal(0), QStringLiteral("-"));
    useLanguage(QStringLiteral("de"));
    EXPECT_EQ(ordinal(1), Lang::text("Common.OrdinalFirst"));
    EXPECT_EQ(ordinal(7), QStringLiteral("7."));
    EXPECT_EQ(ordinal(-1), QStringLiteral("-"));
    EXPECT_EQ(formatMinutes(65), QStringLiteral("1 Std. 05 Min."));
    useLanguage(QStringLiteral("en"));
}

TEST(DockFormat, VersionsCompareNumberByNumber) {
    EXPECT_FALSE(isOlder(QStringLiteral("0.3.0"), QStringLiteral("0.3")));
    EXPECT_TRUE(isOlder(QStringLiteral("0.3.0"), QStringLiteral("0.10.0")));
    EXPECT_TRUE(isOlder(QStringLiteral("0.3"), QStringLiteral("0.3.1")));
    EXPECT_FALSE(isOlder(QStringLiteral("1.0"), QStringLiteral("0.99.99")));
    EXPECT_FALSE(isOlder(QStringLiteral("0.3.0"), QStringLiteral("0.3.0")));
}

TEST(DockFormat, PhaseLabels) {
    useLanguage(QStringLiteral("en"));
    EXPECT_EQ(phaseLabel(QStringLiteral("live")), Lang::text("Phase.live"));
    EXPECT_EQ(phaseLabel(QStringLiteral("strange")), QStringLiteral("STRANGE"));
}

namespace {

// Items of known size: buttons with a fixed size hint.
class Box : public QWidget {
public:
    Box(int w, int h, QWidget* parent) : QWidget(parent), size_(w, h) {}
    QSize sizeHint() const override { return size_; }
    QSize minimumSizeHint() const override { return size_; }

private:
    QSize size_;
};

} // namespace

TEST(FlowLayout, WrapsAtTheRightEdge) {
    QWidget host;
    auto* flow = new FlowLayout(&host, 6, 4);
    auto* a = new Box(100, 20, &host);
    auto* b = new Box(100, 30, &host);
    auto* c = new Box(100, 20, &host);
    flow->addWidget(a);
    flow->addWidget(b);
    flow->addWidget(c);

    // All on one line: the tallest item's height.
    EXPECT_EQ(flow->heightForWidth(312), 30);
    flow->setGeometry(QRect(0, 0, 312, 30));
    EXPECT_EQ(c->geometry(), QRect(212, 0, 100, 20));

    // One pixel less: the third wraps below the tallest of the first line.
    EXPECT_EQ(flow->heightForWidth(311), 30 + 4 + 20);
    flow->setGeometry(QRect(0, 0, 311, 54));
    EXPECT_EQ(b->geometry(), QRect(106, 0, 100, 30));
    EXPECT_EQ(c->geometry(), QRect(0, 34, 100, 20));

    // Narrower than any item: one per line, none shrunk.
    EXPECT_EQ(flow->heightForWidth(50), 20 + 4 + 30 + 4 + 20);
    flow->setGeometry(QRect(0, 0, 50, 78));
    EXPECT_EQ(b->geometry(), QRect(0, 24, 100, 30));

    // Hidden items take no room.
    b->hide();
    EXPECT_EQ(flow->heightForWidth(206), 20);
    EXPECT_EQ(flow->minimumSize(), QSize(100, 20));
}

TEST(FlowLayout, OwnsItsItems) {
    auto* flow = new FlowLayout(nullptr, 6, 6);
    flow->addItem(new QWidgetItem(new QWidget()));
    EXPECT_EQ(flow->count(), 1);
    EXPECT_EQ(flow->itemAt(1), nullptr);
    EXPECT_EQ(flow->takeAt(-1), nullptr);
    std::unique_ptr<QLayoutItem> taken(flow->takeAt(0));
    delete taken->widget();
    EXPECT_EQ(flow->count(), 0);
    delete flow;
}
