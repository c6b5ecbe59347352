// Arbitrary bytes as the Steam client's files: parsing never crashes, stays
// within its limits, and a text it accepts reads back the same when written
// out again with its escapes.
#include "engine/steam.h"

#include <cstddef>
#include <cstdint>

namespace {

QByteArray quoted(const QString& text) {
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

void write(const vdf::Node& block, QByteArray& out) {
    for (const vdf::Node& child : block.children) {
        out += quoted(child.key);
        if (child.block) {
            out += "\n{\n";
            write(child, out);
            out += "}\n";
        } else {
            out += "\t" + quoted(child.value) + "\n";
        }
    }
}

bool same(const vdf::Node& a, const vdf::Node& b) {
    if (a.key != b.key || a.value != b.value || a.block != b.block ||
        a.children.size() != b.children.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.children.size(); ++i) {
        if (!same(a.children[i], b.children[i])) {
            return false;
        }
    }
    return true;
}

int depth(const vdf::Node& node) {
    int deepest = 0;
    for (const vdf::Node& child : node.children) {
        if (child.block) {
            const int d = 1 + depth(child);
            deepest = d > deepest ? d : deepest;
        }
    }
    return deepest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const std::optional<vdf::Node> root = vdf::parse(bytes);
    if (root) {
        if (depth(*root) > vdf::kMaxDepth) {
            __builtin_trap();
        }
        QByteArray again;
        write(*root, again);
        const std::optional<vdf::Node> back = vdf::parse(again);
        if (!back || !same(*root, *back)) {
            __builtin_trap();
        }
    }

    const steam::LoginUsers users = steam::parseLoginUsers(bytes);
    if (!root && !users.empty()) {
        __builtin_trap();
    }
    const steam::Registry registry = steam::parseRegistry(bytes);
    const SteamAccount account = steam::pickAccount(registry.activeUser, users);
    // A running account's id is the 64-bit base plus a 32-bit account
    // number: from 76561197960265728 up to 76561202255233023.
    if (account.running && !account.id.startsWith(QLatin1String("76561"))) {
        __builtin_trap();
    }
    return 0;
}
