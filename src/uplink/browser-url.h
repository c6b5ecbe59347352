#pragma once

#include <QString>

// Whether a link that came from the service may be handed to the user's web
// browser: absolute http or https addresses with a host, nothing else (no
// file:, javascript:, custom schemes or relative paths).
bool isBrowsableUrl(const QString& url);
