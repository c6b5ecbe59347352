// Glue between Qt images and the HUD reader, shared by the command-line tools,
// the tests and the benchmarks.
#pragma once

#include "hud/cash/pass.h"

#include <QImage>
#include <QJsonObject>
#include <QString>

#include <memory>
#include <string>

namespace synth {

// The reader's view of a 32-bit image; `image` must stay alive and unchanged.
hud::FrameView frameView(const QImage& image);

// The engine's options for every pass.
hud::HudReadOptions engineOptions();

// data/hud/model.bin of the source tree (CORVEX_HUD_MODEL overrides).
QString defaultModelPath();
std::shared_ptr<const hud::Model> loadModelFile(const QString& path, QString* error);

// The reading as one JSON object, keyed by the field names of the record.
QJsonObject readingJson(const hud::HudReading& reading);

// A capture as the engine would hand it over: an image already 907 pixels
// wide passes unchanged, a whole frame is cropped to the HUD region first.
QImage hudCaptureOf(const QImage& image, QString* error);

} // namespace synth
