#include "api/gamedigests.h"

GameDigests currentGameDigests()
{
    // The game detection has not landed yet: no game, no digests.
    return GameDigests();
}
