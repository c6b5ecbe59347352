#include "engine/steam.h"
SteamAccount detectSteam() {
    return {};
}
