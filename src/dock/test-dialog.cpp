#include "test-dialog.h"

#include "engine/engine.h"
#include "format.h"
#include "plugin/lang.h"
#include "uplink/texts.h"
#include "widgets.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <utility>

namespace {

constexpr int kMinPictureWidth = 454;
constexpr int kMaxPictureWidth = 907;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString certain(bool yes) {
    return yes ? QStringLiteral("OK") : QStringLiteral("--");
}

QString lineText(const hud::HudLine& line) {
    QString text = QStringLiteral("line     %1 ").arg(qs(line.text));
    if (line.hasFigure) {
        text += formatMoney(line.figure, true);
    }
    if (line.hasXp) {
        text += QStringLiteral(" %1XP").arg(line.xp);
    }
    if (!line.known && !line.raw.empty() && line.raw != line.text) {
        text += QStringLiteral("  (read as ") + qs(line.raw) + QLatin1Char(')');
    }
    return text + QLatin1Char('\n');
}

QPushButton* button(const char* key, const char* tipKey = nullptr) {
    auto* b = new QPushButton(Lang::text(key));
    if (tipKey) {
        b->setToolTip(Lang::text(tipKey));
    }
    return b;
}

QString samplesFolder(const Engine& engine) {
    return QDir(engine.outputDir()).filePath(QStringLiteral("samples"));
}

} // namespace

QString formatReading(const hud::HudReading& reading) {
    QString text = QStringLiteral("balance  %1  %2 (conf %3, margin %4)\n")
                       .arg(qs(reading.balanceText), certain(reading.balanceCertain),
                            QString::number(reading.balanceConfidence, 'f', 2),
                            QString::number(reading.balanceMargin, 'f', 2));
    text += QStringLiteral("change   %1  %2 arrow %3\n")
                .arg(qs(reading.changeText), certain(reading.changeCertain), QString::number(reading.arrow));
    for (const hud::HudLine& line : reading.lines) {
        text += lineText(line);
    }
    if (!reading.reason.empty()) {
        text += QStringLiteral("note     ") + qs(reading.reason) + QLatin1Char('\n');
    }
    return text +
           QStringLiteral("HUD size %1 percent of default").arg(hud::hudSizePercent(reading.lineHeight));
}

int testPictureWidth(int pictureWidth) {
    return qMin(qMax(pictureWidth, kMinPictureWidth), kMaxPictureWidth);
}

QStringList newestSamples(const QString& folder, int limit) {
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("*.png"), QStringLiteral("*.jpg"), QStringLiteral("*.txt")}, QDir::Files, QDir::Time);
    QStringList paths;
    for (const QFileInfo& file : files) {
        if (paths.size() >= limit) {
            break;
        }
        paths.append(file.absoluteFilePath());
    }
    return paths;
}

TestDialog::TestDialog(Engine& engine, QWidget* parent) : QDialog(parent), engine_(engine) {
    setWindowTitle(Lang::text("Test.Title"));
    build();
    connect(save_, &QPushButton::clicked, this,
            [this] { status_->setText(engine_.saveSample(QStringLiteral("manual"))); });
    connect(every10_, &QCheckBox::toggled, this, [this](bool on) { engine_.setSampleEvery10s(on); });
    connect(onLine_, &QCheckBox::toggled, this, [this](bool on) { engine_.setSampleOnNewLine(on); });
    connect(send_, &QPushButton::clicked, this, &TestDialog::sendSamples);
    connect(changeFolder_, &QPushButton::clicked, this, &TestDialog::changeFolder);
    connect(openFolder_, &QPushButton::clicked, this, [this] {
        QDir().mkpath(engine_.outputDir());
        QDesktopServices::openUrl(QUrl::fromLocalFile(engine_.outputDir()));
    });
    timer_ = new QTimer(this);
    timer_->setInterval(500);
    connect(timer_, &QTimer::timeout, this, &TestDialog::redraw);
    redraw();
}

void TestDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    redraw();
    timer_->start();
}

void TestDialog::hideEvent(QHideEvent* event) {
    timer_->stop();
    QDialog::hideEvent(event);
}

void TestDialog::build() {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(makeLabel(Lang::text("Test.Intro"), QString(), this));
    picture_ = new QLabel(this);
    picture_->setMinimumSize(454, 173);
    picture_->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture_);
    reading_ = new QLabel(this);
    reading_->setTextFormat(Qt::PlainText);
    reading_->setStyleSheet(QStringLiteral("font-family: 'IBM Plex Mono', monospace;"));
    layout->addWidget(reading_);
    status_ = makeLabel(QString(), QString(), this);
    status_->setTextFormat(Qt::PlainText);
    layout->addWidget(status_);

    auto* row = new QHBoxLayout();
    save_ = button("Test.Save", "Test.SaveTip");
    send_ = button("Test.Send", "Test.SendTip");
    row->addWidget(save_);
    row->addWidget(send_);
    row->addStretch(1);
    layout->addLayout(row);
    every10_ = new QCheckBox(Lang::text("Test.Every10"), this);
    every10_->setToolTip(Lang::text("Test.Every10Tip"));
    every10_->setChecked(engine_.settings().sample_every_10s);
    onLine_ = new QCheckBox(Lang::text("Test.OnLine"), this);
    onLine_->setChecked(engine_.settings().sample_on_new_line);
    layout->addWidget(every10_);
    layout->addWidget(onLine_);

    where_ = makeLabel(QString(), QStringLiteral("muted"), this);
    where_->setTextFormat(Qt::PlainText);
    where_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(where_);
    auto* folderRow = new QHBoxLayout();
    changeFolder_ = button("Test.ChangeFolder", "Test.ChangeFolderTip");
    openFolder_ = button("Test.OpenFolder");
    folderRow->addWidget(changeFolder_);
    folderRow->addWidget(openFolder_);
    folderRow->addStretch(1);
    layout->addLayout(folderRow);
    updateWhere();
    const std::pair<QWidget*, const char*> names[] = {
        {picture_, "testPicture"},      {reading_, "testReading"}, {status_, "testStatus"},
        {where_, "testWhere"},          {save_, "testSave"},       {every10_, "testEvery10"},
        {onLine_, "testOnLine"},        {send_, "testSend"},       {changeFolder_, "testChangeFolder"},
        {openFolder_, "testOpenFolder"}};
    for (const auto& [widget, name] : names) {
        widget->setObjectName(QString::fromLatin1(name));
    }
}

void TestDialog::redraw() {
    if (engine_.settings().sample_every_10s) {
        status_->setText(Lang::text("Test.EveryStatus"));
    }
    const QImage image = engine_.lastHudImage();
    if (!image.isNull()) {
        picture_->setPixmap(QPixmap::fromImage(
            image.scaledToWidth(testPictureWidth(image.width()), Qt::SmoothTransformation)));
    }
    const QString text = formatReading(engine_.lastReading());
    if (reading_->text() != text) {
        reading_->setText(text);
    }
}

void TestDialog::updateWhere() {
    where_->setText(uplinktext::with("Test.SessionLog", QDir::toNativeSeparators(engine_.readerLogPath())) +
                    QLatin1Char('\n') +
                    uplinktext::with("Test.Where", QDir::toNativeSeparators(engine_.outputDir())));
}

void TestDialog::sendSamples() {
    const QStringList files = newestSamples(samplesFolder(engine_));
    if (files.isEmpty()) {
        status_->setText(Lang::text("Test.NoSamples"));
        return;
    }
    send_->setEnabled(false);
    status_->setText(Lang::text("Test.SendingFiles"));
    QPointer<TestDialog> alive(this);
    engine_.uplink()->sendSamples(files, [alive](const QString& result) {
        if (!alive) {
            return;
        }
        alive->status_->setText(result);
        alive->send_->setEnabled(true);
    });
}

void TestDialog::changeFolder() {
    const QString folder =
        QFileDialog::getExistingDirectory(this, Lang::text("Test.FolderTitle"), engine_.outputDir());
    if (folder.isEmpty()) {
        return;
    }
    engine_.setOutputDir(folder);
    updateWhere();
}
