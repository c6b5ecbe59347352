#include "dock.h"

#include "engine/engine.h"
#include "plugin/lang.h"
#include "plugin/module-data.h"
#include "test-dialog.h"
#include "tournament-panel.h"
#include "uplink/browser-url.h"
#include "wager-panel.h"
#include "widgets.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QUrl>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Every rule is scoped to the dock's object name so nothing leaks into OBS.
const char* kStyle = R"(
#corvexTourneyDock { background: #0E1215; }
#corvexTourneyDock QLabel { color: #E8E5DD; font-size: 12px; }
#corvexTourneyDock QLabel[role="title"] {
    font-family: "Saira Condensed", "Roboto Condensed"; font-weight: 700; font-size: 17px;
    letter-spacing: 1px; color: #E8E5DD;
}
#corvexTourneyDock QLabel[role="muted"] { color: #9AA3AA; font-size: 11px; }
)";

} // namespace

Dock::Dock(Engine* engine, QWidget* parent) : QWidget(parent), engine_(engine) {
    setObjectName(QStringLiteral("corvexTourneyDock"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QString::fromLatin1(kStyle));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(10, 10, 10, 10);
    root->setSpacing(8);

    auto* header = new QHBoxLayout();
    header->setSpacing(8);
    const QString markPath = plugin::findDataFile("brand/zedar_mark.png");
    QPixmap mark(markPath);
    if (!markPath.isEmpty() && !mark.isNull()) {
        auto* logo = new QLabel(this);
        logo->setPixmap(mark.scaledToHeight(22, Qt::SmoothTransformation));
        header->addWidget(logo);
    }
    title_ = makeLabel(Lang::text("Dock.Title"), QStringLiteral("title"), this);
    header->addWidget(title_, 1);
    root->addLayout(header);

    auto* tournament = new QVBoxLayout();
    root->addLayout(tournament);
    buildTournament(tournament);
    auto* wager = new QVBoxLayout();
    root->addLayout(wager);
    buildWager(wager);
    root->addStretch(1);
}

Dock::~Dock() = default;

Uplink& Dock::uplink() const {
    return *engine_->uplink();
}

Settings& Dock::settings() const {
    return engine_->settings();
}

bool Dock::linked() const {
    return !settings().token.isEmpty() || uplink().demo() != 0;
}

void Dock::buildTournament(QVBoxLayout* layout) {
    tournament_ = std::make_unique<TournamentPanel>(*this, layout);
}

void Dock::buildWager(QVBoxLayout* layout) {
    wager_ = std::make_unique<WagerPanel>(*this, layout);
}

void Dock::refresh() {
    tournament_->refresh();
    wager_->refresh();
}

void Dock::setMode(const QString&) {
    refresh();
}

void Dock::showNotice(const QString&) {
    refresh();
}

void Dock::showConfirmation(const QString&) {
    refresh();
}

bool Dock::confirm(const QString& title, const QString& text) {
    if (confirmForTesting_) {
        return confirmForTesting_(title, text);
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, this);
    QPushButton* yes = box.addButton(Lang::text("Common.Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(Lang::text("Common.No"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void Dock::openTest() {
    if (!test_) {
        test_ = new TestDialog(*engine_, this);
    }
    test_->show();
    test_->raise();
    test_->activateWindow();
}

bool Dock::openPage(const QString& url) {
    if (!isBrowsableUrl(url)) {
        showNotice(Lang::text("Common.NotWebPage"));
        return false;
    }
    const QUrl page(url);
    if (browserForTesting_) {
        browserForTesting_(page);
    } else {
        QDesktopServices::openUrl(page);
    }
    return true;
}
