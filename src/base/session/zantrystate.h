#pragma once

#include <QObject>

// The session flag set that drives the whole session; registered with the
// meta-object system so values print as their names.
namespace Zantry {
Q_NAMESPACE

enum ZANTRY_STATE : quint32 {
    LOGIN = 0x1,
    LOGIN_ATTEMPTED = 0x2,
    LOGIN_FAIL = 0x4,
    LOGGED_IN = 0x8,
    LADDERS_LOADED = 0x40,
    PLAYERS_LOADED = 0x80,
    MAPS_LOADED = 0x100,
    MAP_DLSCAN_STARTED = 0x400,
    MAP_DLSCAN_FINISHED = 0x800,
    MATCHUP_REQUESTED = 0x1000,
    MATCHUP_WAITFOR = 0x2000,
    MATCHUP_FOUND = 0x4000,
    NETWORK_FIND_STARTED = 0x8000,
    NETWORK_FIND_FINISHED = 0x10000,
    NETWORK_PERF_STARTED = 0x20000,
    NETWORK_READY = 0x40000,
    GAME_SPAWNED = 0x80000,
    GAME_FINISHED = 0x100000,
    STATS_UPLOADED = 0x200000,
    MAIN_BUTTON_CLICKED = 0x400000,
    API_FAILED = 0x800000,
    NO_LADDER_ACCN = 0x1000000,
    GAME_NOT_FOUND = 0x2000000,
    PWATCH_TRIGGERED = 0x4000000,
    INITIAL = 0x80000000,
    STATE_ALL = 0xffffffff,
};
Q_FLAG_NS(ZANTRY_STATE)

// Logged in, everything loaded and the maps scanned: the set in which the
// main button queues.
constexpr quint32 READY_TO_QUEUE = LOGGED_IN | LADDERS_LOADED | PLAYERS_LOADED | MAPS_LOADED | MAP_DLSCAN_FINISHED;

// "LOGGED_IN|PLAYERS_LOADED" for 0x88; empty for 0.
QByteArray stateNames(quint32 state);

} // namespace Zantry
