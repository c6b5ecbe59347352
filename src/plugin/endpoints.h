#pragma once

#include <QString>

// The service's addresses. Everything that builds a URL to the service or its
// web site starts from one of these, so moving the service is a one-line change.
namespace endpoints {

// Origin of the JSON API; the default `server` setting is this plus kApiPath.
inline constexpr const char* kApiOrigin = "https://api.corvextourney.gg";
inline constexpr const char* kApiPath = "/api/mintcup/v1";
inline QString defaultServer() {
    return QString::fromLatin1(kApiOrigin) + QString::fromLatin1(kApiPath);
}

// Origin of the web site: overlay pages, downloads, sign-in and invite links.
inline constexpr const char* kSiteOrigin = "https://corvextourney.gg";

} // namespace endpoints
