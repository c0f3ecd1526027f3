#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How this run behaves: from FAKEGAME_* variables, overridden by
// "fakegame.ini" in the game folder (the client replaces the whole
// environment of some launchers, so the file is the dependable channel).
struct GameConfig
{
    std::string mode = "normal"; // normal, crash, crash-signal, nostart, hang
    int seconds = 3;
    int loadSeconds = 0; // silence before the first datagram, as a loading game keeps
    int intervalMs = 100;
    std::string eip = "0045A1B3";
    std::string problem; // a bad value, for the log
};

// One opponent from a [Other%1] section.
struct Opponent
{
    std::string section;
    std::string name;
    std::uint16_t id = 0; // its "Port"
};

// What the game reads from "spawn.ini".
struct SpawnFile
{
    std::uint16_t myId = 0;
    std::string name;
    std::string tunnelIp;
    std::uint16_t tunnelPort = 0;
    std::vector<Opponent> opponents;
};

namespace GameFiles {

// Files are named relative to the game folder, the working directory;
// gameDir only names them in messages.
GameConfig readConfig();
// False (with a reason) when the file is missing or lacks the tunnel.
bool readSpawn(const std::string &gameDir, SpawnFile *spawn, std::string *error);
bool isFile(const char *name);
// The exception file the launcher's game writes, by launcher name; empty
// when that game writes none.
std::string exceptionFileFor(const std::string &launcher);

} // namespace GameFiles
