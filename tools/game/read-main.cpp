// corvex-read: reads the cash HUD from screenshots or saved captures the way
// the engine does, and prints the read summary or the whole reading as JSON.

#include "hudio.h"
#include "synth.h"

#include "hud/summary.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonDocument>

#include <cstdio>

int main(int argc, char** argv) {
    synth::ensureGuiApp(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription(
        "Reads the cash HUD (balance, change, reward lines) from PNG or JPEG images.\n"
        "A whole frame (any size, at least 320x240) is cropped to its top-right HUD region (0.42 of the\n"
        "height wide, 0.22 high) and scaled to 907 pixels wide, as the engine captures it; an image\n"
        "already 907 pixels wide is taken as such a capture. The reading uses the engine's options.");
    cli.addHelpOption();
    cli.addOption({"model", "HUD model file.", "file", synth::defaultModelPath()});
    cli.addOption({"json", "Print the reading as one JSON object per image."});
    cli.addPositionalArgument("images", "PNG or JPEG files.", "IMAGE...");
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    cli.process(args);
    const QStringList files = cli.positionalArguments();
    if (files.isEmpty()) {
        std::fprintf(stderr, "corvex-read: no image given (see --help)\n");
        return 2;
    }
    QString error;
    const auto model = synth::loadModelFile(cli.value("model"), &error);
    if (!model) {
        std::fprintf(stderr, "corvex-read: %s\n", qPrintable(error));
        return 1;
    }
    const hud::HudReadOptions options = synth::engineOptions();
    int failures = 0;
    for (const QString& file : files) {
        QImageReader reader(file);
        const QImage image = reader.read();
        if (image.isNull()) {
            std::fprintf(stderr, "corvex-read: %s: %s\n", qPrintable(file),
                         QFileInfo::exists(file) ? qPrintable(reader.errorString()) : "no such file");
            ++failures;
            continue;
        }
        const QImage capture = synth::hudCaptureOf(image, &error);
        if (capture.isNull()) {
            std::fprintf(stderr, "corvex-read: %s: %s\n", qPrintable(file), qPrintable(error));
            ++failures;
            continue;
        }
        const hud::HudReading reading = hud::readHud(*model, synth::frameView(capture), options);
        if (cli.isSet("json")) {
            QJsonObject o = synth::readingJson(reading);
            o["file"] = file;
            std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
        } else {
            std::printf("%s: %s\n", qPrintable(file), hud::readSummary(reading).c_str());
        }
    }
    return failures ? 1 : 0;
}
