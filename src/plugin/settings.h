#pragma once

#include <QString>

#include <cstdint>

// All persistent user and account state of the module, stored as one flat
// JSON object in "config.json". Whoever changes a field saves the whole record.
struct Settings {
    QString server;
    QString token;
    QString player_id;
    QString player_name;
    QString source;
    int32_t crop_l = 0;
    int32_t crop_t = 0;
    int32_t crop_r = 0;
    int32_t crop_b = 0;
    int32_t fps = 5;
    bool evidence = true;
    int64_t next_seq = 1;
    int64_t next_lid = 1;
    QString device_name;
    QString out_dir;
    bool sample_every_10s = false;
    QString mode = QStringLiteral("tournament");
    bool sample_on_new_line = true;
    QString lang = QStringLiteral("auto");

    Settings();

    // The module's configuration folder as libobs names it (created here), or
    // an empty string when libobs gives none: the file is then "config.json"
    // in the working folder.
    static QString moduleFolder();

    // The defaults, overridden by "config.json" in `folder` (or its "bak"
    // backup), then normalised. The folder is created if missing; an
    // unreadable file leaves the defaults.
    static Settings load(const QString& folder = moduleFolder());

    // Writes the whole record atomically (temporary file, then rename, the
    // previous file kept as backup). False when the file could not be written.
    static bool save(const Settings& settings, const QString& folder = moduleFolder());

    static QString filePath(const QString& folder);

    void normalise();
};
