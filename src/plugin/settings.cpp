#include "settings.h"

#include "endpoints.h"
#include "module-data.h"

#include <obs-data.h>
#include <util/bmem.h>
#include <util/platform.h>

#include <QDir>
#include <QHostInfo>

#include <cmath>
#include <limits>

namespace {

// A value whose JSON type does not match the field is treated as absent, so a
// hand-edited file cannot turn `evidence` off with "yes" or blank the server
// with a number.
obs_data_item_t* userItem(obs_data_t* data, const char* key, obs_data_type type) {
    if (!obs_data_has_user_value(data, key)) {
        return nullptr;
    }
    obs_data_item_t* item = obs_data_item_byname(data, key);
    if (item && obs_data_item_gettype(item) != type) {
        obs_data_item_release(&item);
        return nullptr; // release does not clear the pointer
    }
    return item;
}

void readText(obs_data_t* data, const char* key, QString& field) {
    if (obs_data_item_t* item = userItem(data, key, OBS_DATA_STRING)) {
        field = QString::fromUtf8(obs_data_item_get_string(item));
        obs_data_item_release(&item);
    }
}

void readBool(obs_data_t* data, const char* key, bool& field) {
    if (obs_data_item_t* item = userItem(data, key, OBS_DATA_BOOLEAN)) {
        field = obs_data_item_get_bool(item);
        obs_data_item_release(&item);
    }
}

// Numbers outside [lo, hi] (a 32-bit crop of 1e12, a fractional 1e300) keep
// the default instead of wrapping around on narrowing.
template <typename T> void readInt(obs_data_t* data, const char* key, T& field, T lo) {
    obs_data_item_t* item = userItem(data, key, OBS_DATA_NUMBER);
    if (!item) {
        return;
    }
    constexpr T hi = std::numeric_limits<T>::max();
    if (obs_data_item_numtype(item) == OBS_DATA_NUM_DOUBLE) {
        double value = obs_data_item_get_double(item);
        if (std::isfinite(value) && value >= static_cast<double>(lo) && value <= static_cast<double>(hi)) {
            field = static_cast<T>(value);
        }
    } else {
        long long value = obs_data_item_get_int(item);
        if (value >= static_cast<long long>(lo) && value <= static_cast<long long>(hi)) {
            field = static_cast<T>(value);
        }
    }
    obs_data_item_release(&item);
}

QByteArray utf8(const QString& text) {
    return text.toUtf8();
}

} // namespace

Settings::Settings() : server(endpoints::defaultServer()) {}

QString Settings::moduleFolder() {
    obs_module_t* module = plugin::module();
    if (!module) {
        return {};
    }
    char* path = obs_module_get_config_path(module, "");
    if (!path) {
        return {};
    }
    QString folder = QString::fromUtf8(path);
    bfree(path);
    return folder;
}

QString Settings::filePath(const QString& folder) {
    if (folder.isEmpty()) {
        return QStringLiteral("config.json");
    }
    return QDir(folder).filePath(QStringLiteral("config.json"));
}

Settings Settings::load(const QString& folder) {
    if (!folder.isEmpty()) {
        os_mkdirs(utf8(folder).constData());
    }

    Settings s;
    obs_data_t* data = obs_data_create_from_json_file_safe(utf8(filePath(folder)).constData(), "bak");
    if (data) {
        readText(data, "server", s.server);
        readText(data, "token", s.token);
        readText(data, "player_id", s.player_id);
        readText(data, "player_name", s.player_name);
        readText(data, "source", s.source);
        readInt<int32_t>(data, "crop_l", s.crop_l, std::numeric_limits<int32_t>::min());
        readInt<int32_t>(data, "crop_t", s.crop_t, std::numeric_limits<int32_t>::min());
        readInt<int32_t>(data, "crop_r", s.crop_r, std::numeric_limits<int32_t>::min());
        readInt<int32_t>(data, "crop_b", s.crop_b, std::numeric_limits<int32_t>::min());
        readInt<int32_t>(data, "fps", s.fps, std::numeric_limits<int32_t>::min());
        readBool(data, "evidence", s.evidence);
        // Sequence and line ids count up from 1; zero or less would repeat ids
        // the service has already seen.
        readInt<int64_t>(data, "next_seq", s.next_seq, 1);
        readInt<int64_t>(data, "next_lid", s.next_lid, 1);
        readText(data, "device_name", s.device_name);
        readText(data, "out_dir", s.out_dir);
        readBool(data, "sample_every_10s", s.sample_every_10s);
        readText(data, "mode", s.mode);
        readBool(data, "sample_on_new_line", s.sample_on_new_line);
        readText(data, "lang", s.lang);
        obs_data_release(data);
    }
    s.normalise();
    return s;
}

void Settings::normalise() {
    if (mode != QLatin1String("wager") && mode != QLatin1String("tournament")) {
        mode = QStringLiteral("tournament");
    }
    if (fps < 2 || fps > 10) {
        fps = 5;
    }
    if (device_name.isEmpty()) {
        device_name = QHostInfo::localHostName();
    }
}

bool Settings::save(const Settings& s, const QString& folder) {
    obs_data_t* data = obs_data_create();
    obs_data_set_string(data, "server", utf8(s.server).constData());
    obs_data_set_string(data, "token", utf8(s.token).constData());
    obs_data_set_string(data, "player_id", utf8(s.player_id).constData());
    obs_data_set_string(data, "player_name", utf8(s.player_name).constData());
    obs_data_set_string(data, "source", utf8(s.source).constData());
    obs_data_set_string(data, "device_name", utf8(s.device_name).constData());
    obs_data_set_string(data, "out_dir", utf8(s.out_dir).constData());
    obs_data_set_string(data, "mode", utf8(s.mode).constData());
    obs_data_set_string(data, "lang", utf8(s.lang).constData());
    obs_data_set_bool(data, "sample_on_new_line", s.sample_on_new_line);
    obs_data_set_bool(data, "sample_every_10s", s.sample_every_10s);
    obs_data_set_int(data, "crop_l", s.crop_l);
    obs_data_set_int(data, "crop_t", s.crop_t);
    obs_data_set_int(data, "crop_r", s.crop_r);
    obs_data_set_int(data, "crop_b", s.crop_b);
    obs_data_set_int(data, "fps", s.fps);
    obs_data_set_bool(data, "evidence", s.evidence);
    obs_data_set_int(data, "next_seq", s.next_seq);
    obs_data_set_int(data, "next_lid", s.next_lid);
    bool ok = obs_data_save_json_safe(data, utf8(filePath(folder)).constData(), "tmp", "bak");
    obs_data_release(data);
    return ok;
}
