#pragma once
// placeholder until the Steam lookup lands
#include <QString>
struct SteamAccount {
    QString id;
    QString name;
    bool running = false;
};
SteamAccount detectSteam();
