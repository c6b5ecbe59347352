#pragma once

// The Steam account that plays on this PC, found without any Steam interface:
// from the client's registry values (the Windows registry, or the client's
// own registry.vdf elsewhere) and its list of accounts that have logged in.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <initializer_list>
#include <map>
#include <optional>
#include <vector>

class QVariant;

struct SteamAccount {
    QString id;           // 64-bit Steam id in decimal; empty when none was found
    QString name;         // persona name; empty when none was read
    bool running = false; // the id came from the running client
};

// Where to look. detectSteam() fills this from the Windows registry, or on
// other systems with the user's home folder; tests pass their own.
struct SteamPlaces {
    QString steamPath;      // the client's folder, as its registry value "SteamPath"
    quint64 activeUser = 0; // "ActiveProcess/ActiveUser": account id of the running client, 0 if none
    // A home folder laid out like the Linux client's: ".steam/registry.vdf"
    // fills whichever of the two values above is unset, and the client's
    // usual folders are tried when the Steam path holds no account list.
    QString home;
};

// Takes no lock and touches no engine state; every failure gives empty fields.
SteamAccount detectSteam();
SteamAccount detectSteam(const SteamPlaces& places);

// Valve's key-value text format, as far as the client's files use it: quoted
// keys and values, blocks in braces, backslash taking the next byte literally.
namespace vdf {

// Files larger than this are not Steam's and are not read.
inline constexpr qsizetype kMaxBytes = 4 * 1024 * 1024;
// registry.vdf nests seven blocks deep; nothing real comes near this.
inline constexpr int kMaxDepth = 32;
inline constexpr std::size_t kMaxNodes = 200000;

struct Node {
    QString key;
    QString value;              // a pair's value; empty for a block
    std::vector<Node> children; // a block's pairs and blocks, in file order
    bool block = false;

    // The first child named `key`, ignoring case (the client writes the same
    // key in different cases); null when there is none.
    const Node* find(const QString& key) const;
    // Walks down through the named blocks and returns the last node found.
    const Node* find(std::initializer_list<const char*> path) const;
};

// The top-level pairs and blocks as the children of an unnamed block, or
// nothing when the text is not well formed (an unterminated string, an
// unclosed or stray brace, a key without a value) or exceeds the limits
// above. A damaged file is not trusted in part.
std::optional<Node> parse(const QByteArray& bytes);

} // namespace vdf

namespace steam {

// The public offset between an account id and its 64-bit Steam id.
inline constexpr quint64 kSteamIdBase = 76561197960265728ULL;

struct LoginUser {
    QString name;
    bool mostRecent = false;
};
// Keyed by the 64-bit id as written in the file, in text order.
using LoginUsers = std::map<QString, LoginUser>;

// Accounts of "config/loginusers.vdf"; empty for a damaged file.
LoginUsers parseLoginUsers(const QByteArray& bytes);

// The two registry values, read from the Linux client's "registry.vdf".
// Values missing or unreadable stay empty or 0.
struct Registry {
    QString steamPath;
    quint64 activeUser = 0;
};
Registry parseRegistry(const QByteArray& bytes);

// The running account if there is one, else the last most-recent account in
// id order; the name when the list knows the id.
SteamAccount pickAccount(quint64 activeUser, const LoginUsers& users);

// A registry number as Qt reads it: a DWORD comes as a signed int, so an
// account id from 2^31 on arrives negative. 0 for anything else unreadable.
quint64 registryNumber(const QVariant& value);

} // namespace steam
