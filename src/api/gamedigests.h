#pragma once

#include <QString>

// The digests of the current game that the find-match request reports.
struct GameDigests
{
    QString exeHash;
    QString ddrawHash;
};

// Empty while no game is current.
GameDigests currentGameDigests();
