#include "fakegame.h"

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        std::printf("%s",
                    "Stand-in for the game launchers (morvel.exe, quillon.exe, fennick.exe).\n"
                    "Started with -SPAWN in a game folder, it reads spawn.ini ([Settings] Port and Name,\n"
                    "[Other1..7] Port and Name, [Tunnel] IP and Port), needs spawnmap.ini, sends a datagram\n"
                    "(4-byte header: own Port, opponent's Port, 16-bit big-endian; then a payload) to every\n"
                    "opponent through the tunnel each interval, counts the datagrams addressed to it, writes\n"
                    "stats.dmp (INI: [Game] Sent/Received/Stray, [Peer<id>] Name/Sent/Received) and exits 0.\n"
                    "It logs to fakegame.log in the game folder. Built for Linux (fakegame) and Windows\n"
                    "(fakegame.exe) from the same sources.\n\n"
                    "Behaviour: environment, overridden by fakegame.ini [FakeGame] in the game folder:\n"
                    "  FAKEGAME_MODE / Mode             normal (default), crash (write the exception file with\n"
                    "                                   an Eip: line and exit 3), crash-signal (the same, then\n"
                    "                                   die by SIGKILL; on Windows end with an access-violation\n"
                    "                                   status), nostart (exit 1 at once), hang (read the files,\n"
                    "                                   then do not exit on its own for an hour)\n"
                    "  FAKEGAME_SECONDS / Seconds       length of the exchange, default 3\n"
                    "  FAKEGAME_LOAD_SECONDS / LoadSeconds  silence before the exchange (a slow load): nothing\n"
                    "                                   sent or read, default 0; Seconds count after it\n"
                    "  FAKEGAME_INTERVAL_MS / IntervalMs  send interval, default 100\n"
                    "  FAKEGAME_EIP / Eip               the crash address, default 0045A1B3\n"
                    "  ZANTRY_RUN_PID                   the test or demo it belongs to: it stops as on SIGTERM\n"
                    "                                   once that process is gone (not on Windows)\n"
                    "Exit codes: 0 done (also on SIGTERM or SIGINT, on Windows Ctrl+C or the console's close,\n"
                    "with stats.dmp if the exchange had begun), 1 nostart, 3 crash, 4 missing or bad\n"
                    "spawn.ini/spawnmap.ini.\n");
        return 0;
    }
    Platform::installStopHandlers();
    int code = 0;
    {
        // argv[0], not the resolved executable: the launcher name picks the game.
        FakeGame game(argc > 0 ? argv[0] : "", args);
        code = game.run();
    }
    Platform::runFinished();
    return code;
}
