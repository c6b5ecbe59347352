#pragma once

namespace Http {

// Closes every request in flight and refuses new ones; called once at OBS
// exit after the engine has stopped.
void shutdown();

} // namespace Http
