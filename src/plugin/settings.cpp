#include "settings.h"

#include "endpoints.h"
#include "log.h"
#include "module-data.h"

#include <obs.hpp>
#include <util/platform.h>
#include <util/util.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringList>

#include <cmath>
#include <limits>

namespace {

// obs_data_item_release needs the address of the pointer it clears, which the
// holders of obs.hpp do not hand out.
class DataItem {
public:
    explicit DataItem(obs_data_item_t* item = nullptr) : item_(item) {}
    ~DataItem() { obs_data_item_release(&item_); }
    DataItem(DataItem&& other) noexcept : item_(other.item_) { other.item_ = nullptr; }
    DataItem(const DataItem&) = delete;
    DataItem& operator=(const DataItem&) = delete;
    DataItem& operator=(DataItem&&) = delete;

    obs_data_item_t* get() const { return item_; }
    explicit operator bool() const { return item_ != nullptr; }

private:
    obs_data_item_t* item_;
};

// What was wrong with the file's keys, for the log line that names the file.
using Problems = QStringList;

const char* typeName(obs_data_type type) {
    switch (type) {
    case OBS_DATA_STRING:
        return "text";
    case OBS_DATA_NUMBER:
        return "a number";
    case OBS_DATA_BOOLEAN:
        return "true or false";
    default:
        return "a value";
    }
}

// A value whose JSON type does not match the field is treated as absent, so a
// hand-edited file cannot turn `evidence` off with "yes" or blank the server
// with a number.
DataItem userItem(obs_data_t* data, const char* key, obs_data_type type, Problems& problems) {
    if (!obs_data_has_user_value(data, key)) {
        return DataItem();
    }
    DataItem item(obs_data_item_byname(data, key));
    if (item && obs_data_item_gettype(item.get()) != type) {
        problems << QStringLiteral("\"%1\" is not %2").arg(QLatin1String(key), QLatin1String(typeName(type)));
        return DataItem();
    }
    return item;
}

void readText(obs_data_t* data, const char* key, QString& field, Problems& problems) {
    if (DataItem item = userItem(data, key, OBS_DATA_STRING, problems)) {
        field = QString::fromUtf8(obs_data_item_get_string(item.get()));
    }
}

void readBool(obs_data_t* data, const char* key, bool& field, Problems& problems) {
    if (DataItem item = userItem(data, key, OBS_DATA_BOOLEAN, problems)) {
        field = obs_data_item_get_bool(item.get());
    }
}

// Numbers outside [lo, hi] (a 32-bit crop of 1e12, a fractional 1e300) keep
// the default instead of wrapping around on narrowing.
template <typename T> void readInt(obs_data_t* data, const char* key, T& field, T lo, Problems& problems) {
    DataItem item = userItem(data, key, OBS_DATA_NUMBER, problems);
    if (!item) {
        return;
    }
    constexpr T hi = std::numeric_limits<T>::max();
    bool inRange = false;
    if (obs_data_item_numtype(item.get()) == OBS_DATA_NUM_DOUBLE) {
        double value = obs_data_item_get_double(item.get());
        inRange =
            std::isfinite(value) && value >= static_cast<double>(lo) && value <= static_cast<double>(hi);
        if (inRange) {
            field = static_cast<T>(value);
        }
    } else {
        long long value = obs_data_item_get_int(item.get());
        inRange = value >= static_cast<long long>(lo) && value <= static_cast<long long>(hi);
        if (inRange) {
            field = static_cast<T>(value);
        }
    }
    if (!inRange) {
        problems << QStringLiteral("\"%1\" is out of range").arg(QLatin1String(key));
    }
}

void readAll(obs_data_t* data, Settings& s, Problems& problems) {
    constexpr int32_t min32 = std::numeric_limits<int32_t>::min();
    readText(data, "server", s.server, problems);
    readText(data, "token", s.token, problems);
    readText(data, "player_id", s.player_id, problems);
    readText(data, "player_name", s.player_name, problems);
    readText(data, "source", s.source, problems);
    readInt<int32_t>(data, "crop_l", s.crop_l, min32, problems);
    readInt<int32_t>(data, "crop_t", s.crop_t, min32, problems);
    readInt<int32_t>(data, "crop_r", s.crop_r, min32, problems);
    readInt<int32_t>(data, "crop_b", s.crop_b, min32, problems);
    readInt<int32_t>(data, "fps", s.fps, min32, problems);
    readBool(data, "evidence", s.evidence, problems);
    // Sequence and line ids count up from 1; zero or less would repeat ids
    // the service has already seen.
    readInt<int64_t>(data, "next_seq", s.next_seq, 1, problems);
    readInt<int64_t>(data, "next_lid", s.next_lid, 1, problems);
    readText(data, "device_name", s.device_name, problems);
    readText(data, "out_dir", s.out_dir, problems);
    readBool(data, "sample_every_10s", s.sample_every_10s, problems);
    readText(data, "mode", s.mode, problems);
    readBool(data, "sample_on_new_line", s.sample_on_new_line, problems);
    readText(data, "lang", s.lang, problems);
}

QByteArray utf8(const QString& text) {
    return text.toUtf8();
}

// Far more than the nineteen keys can fill; a bigger file is not ours.
constexpr qint64 kLargestFile = 4 * 1024 * 1024;

struct ReadResult {
    OBSDataAutoRelease data; // null unless the file was read
    bool present = false;    // something exists at the path
    bool regular = false;    // ... and it is a regular file (or a link to one)
    QString problem;         // why a present file could not be used
};

// The file is read here, not by libobs's file reader: that one aborts OBS on
// a directory and, for a damaged file, renames the backup over it, so the
// damaged original could never be kept.
ReadResult readFile(const QString& path) {
    ReadResult r;
    const QFileInfo info(path);
    r.present = info.exists() || info.isSymLink();
    if (!r.present) {
        return r;
    }
    r.regular = info.isFile();
    if (!r.regular) {
        r.problem =
            info.isDir() ? QStringLiteral("a folder, not a file") : QStringLiteral("not a regular file");
        return r;
    }
    if (info.size() > kLargestFile) {
        r.problem = QStringLiteral("%1 bytes, too large for a settings file").arg(info.size());
        return r;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        r.problem = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return r;
    }
    QByteArray text = file.read(kLargestFile + 1);
    if (text.startsWith("\xef\xbb\xbf")) {
        text.remove(0, 3);
    }
    if (text.trimmed().isEmpty()) {
        r.problem = QStringLiteral("empty");
        return r;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        r.problem =
            QStringLiteral("not valid JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset);
        return r;
    }
    if (!doc.isObject()) {
        r.problem = QStringLiteral("not a JSON object");
        return r;
    }
    r.data = obs_data_create_from_json(text.constData());
    if (!r.data) {
        r.problem = QStringLiteral("rejected by the OBS JSON reader");
    }
    return r;
}

QString badPath(const QString& folder) {
    return folder.isEmpty() ? QStringLiteral("config.bad.json")
                            : QDir(folder).filePath(QStringLiteral("config.bad.json"));
}

// Keeps the player's damaged file out of the way of the saves (which would
// make it the backup and then overwrite it). `move` when nothing in it could
// be read; a copy when the file is read and only some keys were ignored.
bool keepAside(const QString& path, const QString& folder, bool move) {
    const QString bad = badPath(folder);
    QFile::remove(bad);
    if (move && QFile::rename(path, bad)) {
        return true;
    }
    return QFile::copy(path, bad);
}

bool nonRegularAt(const QString& path) {
    const QFileInfo info(path);
    return (info.exists() || info.isSymLink()) && !info.isFile();
}

} // namespace

Settings::Settings() : server(endpoints::defaultServer()) {}

QString Settings::moduleFolder() {
    obs_module_t* module = plugin::module();
    if (!module) {
        return {};
    }
    BPtr<char> path(obs_module_get_config_path(module, ""));
    if (!path) {
        return {};
    }
    return QString::fromUtf8(path.Get());
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
    const QString path = filePath(folder);
    const QByteArray name = utf8(QDir::toNativeSeparators(path));
    ReadResult main = readFile(path);
    if (main.present && !main.regular) {
        obsLog(
            LOG_ERROR,
            "%s is %s: settings come from its backup or the defaults and are not saved until it is removed",
            name.constData(), utf8(main.problem).constData());
    } else if (main.present && !main.data) {
        const bool kept = keepAside(path, folder, true);
        obsLog(LOG_WARNING, "%s is damaged (%s)%s", name.constData(), utf8(main.problem).constData(),
               kept ? ", kept as config.bad.json" : " and could not be kept aside");
    }

    // As libobs would: the backup of the last good save stands in for a
    // missing or damaged file.
    OBSDataAutoRelease data = std::move(main.data);
    QString source = path;
    if (!data) {
        const QString backup = path + QStringLiteral(".bak");
        ReadResult bak = readFile(backup);
        if (bak.data) {
            data = std::move(bak.data);
            source = backup;
            if (main.present) {
                obsLog(LOG_WARNING, "settings read from the backup %s",
                       utf8(QDir::toNativeSeparators(backup)).constData());
            }
        } else if (bak.present) {
            obsLog(LOG_WARNING, "the settings backup %s is unusable too (%s): defaults used",
                   utf8(QDir::toNativeSeparators(backup)).constData(), utf8(bak.problem).constData());
        }
    }
    if (data) {
        Problems problems;
        readAll(data, s, problems);
        if (!problems.isEmpty()) {
            const bool kept = source == path && keepAside(path, folder, false);
            obsLog(LOG_WARNING, "%s: %s; those keys keep their defaults%s",
                   utf8(QDir::toNativeSeparators(source)).constData(),
                   utf8(problems.join(QStringLiteral(", "))).constData(),
                   kept ? " (the file is kept as config.bad.json)" : "");
        }
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
    const QString path = filePath(folder);
    // libobs's safe save renames whatever is at the path to the backup: a
    // folder named config.json would be moved away. Load has said why.
    if (nonRegularAt(path)) {
        return false;
    }
    OBSDataAutoRelease data = obs_data_create();
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
    return obs_data_save_json_safe(data, utf8(path).constData(), "tmp", "bak");
}
