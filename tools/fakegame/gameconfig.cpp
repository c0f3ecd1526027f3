#include "gameconfig.h"

#include "ini.h"

#include <cstdlib>
#include <filesystem>

namespace GameFiles {

namespace {

const char *const Modes[] = {"normal", "crash", "crash-signal", "nostart", "hang"};

std::string lower(std::string text)
{
    for (char &c : text)
        c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return text;
}

// A decimal number, surrounding spaces allowed, as the settings store's
// conversions read one.
bool parseNumber(const std::string &text, long long *value)
{
    const std::size_t first = text.find_first_not_of(" \t\n\r\v\f");
    const std::size_t last = text.find_last_not_of(" \t\n\r\v\f");
    if (first == std::string::npos)
        return false;
    std::size_t i = first;
    const bool negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+')
        ++i;
    if (i > last)
        return false;
    long long v = 0;
    for (; i <= last; ++i) {
        if (text[i] < '0' || text[i] > '9' || v > 100000000000LL)
            return false;
        v = v * 10 + (text[i] - '0');
    }
    *value = negative ? -v : v;
    return true;
}

// The low 16 bits of an unsigned number; 0 when it is none.
std::uint16_t port(const std::string &text)
{
    long long v = 0;
    return parseNumber(text, &v) && v >= 0 && v <= 0xFFFFFFFFLL ? std::uint16_t(v) : 0;
}

void apply(GameConfig *config, const std::string &key, const std::string &value)
{
    if (value.empty())
        return;
    bool ok = true;
    long long v = 0;
    if (key == "mode") {
        ok = false;
        for (const char *mode : Modes)
            ok = ok || lower(value) == mode;
        if (ok)
            config->mode = lower(value);
    } else if (key == "seconds" || key == "load") {
        ok = parseNumber(value, &v) && v >= 0 && v <= 3600;
        if (ok)
            (key == "load" ? config->loadSeconds : config->seconds) = int(v);
    } else if (key == "interval") {
        ok = parseNumber(value, &v) && v >= 5 && v <= 10000;
        if (ok)
            config->intervalMs = int(v);
    } else if (key == "eip") {
        config->eip = value;
    }
    if (!ok)
        config->problem += "ignored " + key + "=\"" + value + "\"; ";
}

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

} // namespace

GameConfig readConfig()
{
    GameConfig config;
    apply(&config, "mode", environment("FAKEGAME_MODE"));
    apply(&config, "seconds", environment("FAKEGAME_SECONDS"));
    apply(&config, "load", environment("FAKEGAME_LOAD_SECONDS"));
    apply(&config, "interval", environment("FAKEGAME_INTERVAL_MS"));
    apply(&config, "eip", environment("FAKEGAME_EIP"));
    IniFile ini;
    if (ini.read("fakegame.ini") != IniFile::Status::Unreadable) {
        apply(&config, "mode", ini.value("FakeGame/Mode"));
        apply(&config, "seconds", ini.value("FakeGame/Seconds"));
        apply(&config, "load", ini.value("FakeGame/LoadSeconds"));
        apply(&config, "interval", ini.value("FakeGame/IntervalMs"));
        apply(&config, "eip", ini.value("FakeGame/Eip"));
    }
    return config;
}

bool readSpawn(const std::string &gameDir, SpawnFile *spawn, std::string *error)
{
    if (!isFile("spawn.ini")) {
        *error = "no spawn file at " + gameDir + "/spawn.ini";
        return false;
    }
    IniFile ini;
    if (ini.read("spawn.ini") != IniFile::Status::Ok) {
        *error = "spawn file is not readable INI";
        return false;
    }
    spawn->myId = port(ini.value("Settings/Port"));
    spawn->name = ini.value("Settings/Name");
    spawn->tunnelIp = ini.value("Tunnel/IP");
    spawn->tunnelPort = port(ini.value("Tunnel/Port"));
    for (int i = 1; i <= 7; ++i) {
        const std::string section = "Other" + std::to_string(i);
        if (ini.hasGroup(section))
            spawn->opponents.push_back({section, ini.value(section + "/Name"), port(ini.value(section + "/Port"))});
    }
    if (spawn->tunnelIp.empty() || spawn->tunnelPort == 0) {
        *error = "spawn file has no [Tunnel] IP and Port";
        return false;
    }
    return true;
}

bool isFile(const char *name)
{
    std::error_code error;
    return std::filesystem::is_regular_file(name, error);
}

std::string exceptionFileFor(const std::string &launcher)
{
    const std::string name = lower(launcher);
    if (name == "quillon.exe")
        return "except.txt";
    if (name == "fennick.exe")
        return std::string();
    return "EXCEPT_LORVANE.TXT";
}

} // namespace GameFiles
