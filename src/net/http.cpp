#include "http.h"

namespace Http {

void shutdown() {
    // No request exists yet that could still be in flight at exit.
}

} // namespace Http
