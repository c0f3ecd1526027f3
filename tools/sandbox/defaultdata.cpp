#include "dataset.h"

// The built-in data set: three ladders with a few synthetic maps each and a
// handful of accounts. Map bytes are generated, their digests computed, so
// every digest is the real SHA-1 of what /mapdb serves.
namespace {

struct MapSeed
{
    const char *description;
    const char *file;
    int size;
};

LadderDef makeLadder(int id, const char *abbr, const char *name, int vetoes, QList<int> allowed, QList<SideDef> sides,
                     const QList<MapSeed> &maps, int firstMapId)
{
    LadderDef l;
    l.id = id;
    l.abbreviation = QString::fromLatin1(abbr);
    l.name = QString::fromLatin1(name);
    l.game = l.abbreviation;
    l.current = QStringLiteral("2026-12");
    l.vetoes = vetoes;
    l.allowedSides = allowed;
    l.sides = sides;
    QList<int> sideIds;
    for (const SideDef &side : sides)
        sideIds.append(side.localId);
    int bit = 0;
    for (const MapSeed &seed : maps) {
        MapDef m;
        m.id = firstMapId + bit;
        m.mapId = 500 + m.id;
        m.bitIdx = bit;
        m.description = QString::fromLatin1(seed.description);
        m.fileName = QString::fromLatin1(seed.file);
        m.bytes = DataSet::syntheticMap(m.description, 2, seed.size, quint32(m.id * 7919));
        // Every side may play every map, except "Twin Spires": America,
        // Korea and France only, so a client's side filter has work to do.
        m.allowedSides = m.description == QLatin1String("Twin Spires") ? QList<int>{0, 1, 2} : sideIds;
        ++bit;
        l.maps.append(m);
    }
    // The last map of each ladder has no preview, so clients see a 404.
    l.maps.last().hasPreview = false;
    return l;
}

AccountDef makeAccount(const char *email, const char *password, const char *userName, const char *token,
                       QList<PlayerDef> players)
{
    AccountDef a;
    a.email = QString::fromUtf8(email);
    a.password = QString::fromUtf8(password);
    a.userName = QString::fromUtf8(userName);
    a.token = QString::fromUtf8(token);
    a.players = players;
    return a;
}

PlayerDef makePlayer(int id, const char *username, const char *ladder)
{
    PlayerDef p;
    p.id = id;
    p.username = QString::fromUtf8(username);
    p.ladder = QString::fromLatin1(ladder);
    return p;
}

} // namespace

DataSet DataSet::builtin()
{
    DataSet set;
    set.ladders.append(makeLadder(
        1, "yr", "Yuri's Revenge", 2, {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8},
        {{1, -1, QStringLiteral("Random")}, {2, 0, QStringLiteral("America")}, {3, 1, QStringLiteral("Korea")},
         {4, 2, QStringLiteral("France")}, {5, 3, QStringLiteral("Germany")}, {6, 4, QStringLiteral("Great Britain")},
         {7, 5, QStringLiteral("Libya")}, {8, 6, QStringLiteral("Iraq")}, {9, 7, QStringLiteral("Cuba")},
         {10, 8, QStringLiteral("Russia")}, {11, 9, QStringLiteral("Yuri")}},
        {{"Arena of Glass", "arena_of_glass.map", 3000},
         {"Coldwater Ford", "coldwater_ford.map", 20000},
         {"Rusted Basin", "rusted_basin.map", 5000},
         {"Twin Spires", "twin.spires.map", 4000}},
        11));
    set.ladders.append(makeLadder(2, "ts", "Tiberian Sun", 1, {},
                                  {{12, -1, QStringLiteral("Random")}, {13, 0, QStringLiteral("GDI")},
                                   {14, 1, QStringLiteral("Nod")}},
                                  {{"Dune Crossing", "dune_crossing.map", 3000},
                                   {"Ion Valley", "ion_valley.map", 9000},
                                   {"Tiberium Gap", "tiberium_gap.map", 4000}},
                                  21));
    set.ladders.append(makeLadder(3, "ra", "Red Alert", 0, {0, 1},
                                  {{15, -1, QStringLiteral("Random")}, {16, 0, QStringLiteral("Allies")},
                                   {17, 1, QStringLiteral("Soviet")}, {18, 2, QStringLiteral("Ukraine")}},
                                  {{"Frozen Channel", "frozen_channel.mpr", 3000},
                                   {"Island Hop", "island_hop.mpr", 6000},
                                   {"Keep Off The Grass", "keep_off.mpr", 2500}},
                                  31));

    PlayerDef alice = makePlayer(101, "Alice", "yr");
    alice.badges = QStringList{QStringLiteral("veteran"), QStringLiteral("season-champion")};
    alice.clanShort = QStringLiteral("LRV");
    alice.clanName = QStringLiteral("Lorvane Vanguard");
    set.accounts.append(makeAccount("alice@sandbox.test", "alice-pass", "alice", "token-alice",
                                    {alice, makePlayer(102, "AliceTS", "ts"), makePlayer(103, "AliceRA", "ra")}));
    set.accounts.append(makeAccount("bob@sandbox.test", "bob-pass", "bob", "token-bob",
                                    {makePlayer(201, "Bob", "yr"), makePlayer(202, "BobTS", "ts"), makePlayer(203, "BobRA", "ra")}));
    set.accounts.append(makeAccount("carol@sandbox.test", "carol-pass", "carol", "token-carol",
                                    {makePlayer(301, "Carol", "yr"), makePlayer(302, "CarolTS", "ts")}));
    set.accounts.append(makeAccount("dave@sandbox.test", "dave-pass", "dave", "token-dave", {makePlayer(401, "Dave", "yr")}));
    // Characters that a form body must encode, and a user name outside ASCII.
    set.accounts.append(makeAccount("zoe+tag@sandbox.test", "a+b&c=d%e f", "zoë", "token-zoe", {makePlayer(501, "Zoë", "yr")}));
    set.accounts.append(makeAccount("noaccount@sandbox.test", "noaccount-pass", "noaccount", "token-noaccount", {}));
    AccountDef banned = makeAccount("banned@sandbox.test", "banned-pass", "banned", "token-banned", {makePlayer(601, "Banned", "yr")});
    banned.fatal = QStringLiteral("Your account is suspended from the ladder.");
    set.accounts.append(banned);

    set.finish();
    return set;
}
