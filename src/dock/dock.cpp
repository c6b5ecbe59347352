#include "dock.h"

#include "engine/engine.h"
#include "plugin/lang.h"
#include "plugin/module-data.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>
#include <QVariant>

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
    title_ = makeLabel(Lang::text("Dock.Title"), "title");
    header->addWidget(title_, 1);
    root->addLayout(header);
    root->addStretch(1);
}

QLabel* Dock::makeLabel(const QString& text, const char* role) {
    auto* label = new QLabel(text, this);
    label->setProperty("role", QString::fromLatin1(role));
    return label;
}
