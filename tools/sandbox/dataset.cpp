#include "dataset.h"

#include "util/filedigest.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QJsonDocument>
#include <QRandomGenerator>

namespace {

QList<int> intList(const QJsonValue &value)
{
    QList<int> out;
    for (const QJsonValue &v : value.toArray())
        out.append(v.toInt());
    return out;
}

QJsonArray toArray(const QList<int> &values)
{
    QJsonArray out;
    for (int v : values)
        out.append(v);
    return out;
}

bool safeFileName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
        && name != QLatin1String(".") && name != QLatin1String("..");
}

} // namespace

void DataSet::finish()
{
    for (LadderDef &ladder : ladders) {
        for (MapDef &map : ladder.maps)
            map.hash = FileDigest::sha1HexOfBytes(map.bytes);
    }
}

const LadderDef *DataSet::ladder(const QString &abbreviation) const
{
    for (const LadderDef &l : ladders) {
        if (l.abbreviation == abbreviation)
            return &l;
    }
    return nullptr;
}

const AccountDef *DataSet::account(const QString &email) const
{
    for (const AccountDef &a : accounts) {
        if (a.email.compare(email, Qt::CaseInsensitive) == 0)
            return &a;
    }
    return nullptr;
}

const PlayerDef *DataSet::player(const AccountDef &account, const QString &ladder, const QString &username) const
{
    for (const PlayerDef &p : account.players) {
        if (p.ladder == ladder && p.username == username)
            return &p;
    }
    return nullptr;
}

const MapDef *DataSet::map(const QString &abbreviation, const QString &digest) const
{
    const LadderDef *l = ladder(abbreviation);
    if (!l)
        return nullptr;
    for (const MapDef &m : l->maps) {
        if (m.hash == digest)
            return &m;
    }
    return nullptr;
}

QJsonArray DataSet::laddersJson() const
{
    QJsonArray out;
    for (const LadderDef &l : ladders) {
        QJsonArray sides;
        for (const SideDef &s : l.sides)
            sides.append(QJsonObject{{QStringLiteral("id"), s.id},
                                     {QStringLiteral("local_id"), s.localId},
                                     {QStringLiteral("ladder_id"), l.id},
                                     {QStringLiteral("name"), s.name}});
        out.append(QJsonObject{{QStringLiteral("id"), l.id},
                               {QStringLiteral("abbreviation"), l.abbreviation},
                               {QStringLiteral("name"), l.name},
                               {QStringLiteral("game"), l.game},
                               {QStringLiteral("current"), l.current},
                               {QStringLiteral("vetoes"), l.vetoes},
                               {QStringLiteral("allowed_sides"), toArray(l.allowedSides)},
                               {QStringLiteral("sides"), sides}});
    }
    return out;
}

QJsonArray DataSet::mapsJson(const LadderDef &ladder) const
{
    QJsonArray out;
    for (const MapDef &m : ladder.maps)
        out.append(QJsonObject{{QStringLiteral("id"), m.id},
                               {QStringLiteral("ladder_id"), ladder.id},
                               {QStringLiteral("map_id"), m.mapId},
                               {QStringLiteral("bit_idx"), m.bitIdx},
                               {QStringLiteral("hash"), m.hash},
                               {QStringLiteral("description"), m.description},
                               {QStringLiteral("allowed_sides"), toArray(m.allowedSides)}});
    return out;
}

QJsonArray DataSet::playersJson(const AccountDef &account) const
{
    QJsonArray out;
    for (const PlayerDef &p : account.players) {
        const LadderDef *l = ladder(p.ladder);
        out.append(QJsonObject{{QStringLiteral("id"), p.id},
                               {QStringLiteral("username"), p.username},
                               {QStringLiteral("ladder_id"), l ? l->id : 0},
                               {QStringLiteral("badges"), QJsonArray::fromStringList(p.badges)},
                               {QStringLiteral("clan_short"), p.clanShort},
                               {QStringLiteral("clan_name"), p.clanName}});
    }
    return out;
}

QByteArray DataSet::previewPng(const QString &digest)
{
    // A map-like picture told apart by its digest: ground in the digest's
    // colour, a river across it and two start positions.
    const QColor ground(digest.mid(0, 2).toInt(nullptr, 16) / 2 + 40, digest.mid(2, 2).toInt(nullptr, 16) / 2 + 60,
                        digest.mid(4, 2).toInt(nullptr, 16) / 3 + 30);
    QImage image(240, 160, QImage::Format_RGB32);
    image.fill(ground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int bend = digest.mid(6, 2).toInt(nullptr, 16) % 80;
    QPainterPath river(QPointF(0, 40 + bend / 2));
    river.cubicTo(QPointF(80, bend), QPointF(160, 160 - bend), QPointF(240, 120 - bend / 2));
    painter.setPen(QPen(QColor(40, 90, 160), 10));
    painter.drawPath(river);
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(QColor(200, 40, 40));
    painter.drawEllipse(QPointF(30, 130), 8, 8);
    painter.setBrush(QColor(40, 80, 200));
    painter.drawEllipse(QPointF(210, 30), 8, 8);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QByteArray DataSet::syntheticMap(const QString &title, int players, int size, quint32 seed)
{
    QByteArray out = "; Sandbox map, synthetic content\n[Basic]\nName=" + title.toUtf8() + "\nMaxPlayer="
        + QByteArray::number(players) + "\n[Map]\nSize=0,0,64,64\n[IsoMapPack5]\n";
    QRandomGenerator rng(seed);
    int line = 1;
    while (out.size() < size) {
        QByteArray chunk(54, '\0');
        for (char &c : chunk)
            c = char(rng.bounded(256));
        out += QByteArray::number(line++) + '=' + chunk.toBase64() + '\n';
    }
    return out;
}

bool DataSet::load(const QString &dir, DataSet *out, QString *error)
{
    QFile file(QDir(dir).filePath(QStringLiteral("sandbox.json")));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        *error = QStringLiteral("%1: not a JSON object (%2)").arg(file.fileName(), parseError.errorString());
        return false;
    }
    DataSet set;
    const QJsonObject root = doc.object();
    for (const QJsonValue &lv : root.value(QStringLiteral("ladders")).toArray()) {
        const QJsonObject lo = lv.toObject();
        LadderDef l;
        l.id = lo.value(QStringLiteral("id")).toInt();
        l.abbreviation = lo.value(QStringLiteral("abbreviation")).toString();
        l.name = lo.value(QStringLiteral("name")).toString();
        l.game = lo.value(QStringLiteral("game")).toString();
        l.current = lo.value(QStringLiteral("current")).toString();
        l.vetoes = lo.value(QStringLiteral("vetoes")).toInt();
        l.playersPerMatch = lo.value(QStringLiteral("players_per_match")).toInt(2);
        l.allowedSides = intList(lo.value(QStringLiteral("allowed_sides")));
        if (!safeFileName(l.abbreviation)) {
            *error = QStringLiteral("ladder %1: bad abbreviation \"%2\"").arg(l.id).arg(l.abbreviation);
            return false;
        }
        for (const QJsonValue &sv : lo.value(QStringLiteral("sides")).toArray()) {
            const QJsonObject so = sv.toObject();
            l.sides.append({so.value(QStringLiteral("id")).toInt(), so.value(QStringLiteral("local_id")).toInt(),
                            so.value(QStringLiteral("name")).toString()});
        }
        for (const QJsonValue &mv : lo.value(QStringLiteral("maps")).toArray()) {
            const QJsonObject mo = mv.toObject();
            MapDef m;
            m.id = mo.value(QStringLiteral("id")).toInt();
            m.bitIdx = mo.value(QStringLiteral("bit_idx")).toInt();
            m.mapId = mo.value(QStringLiteral("map_id")).toInt(m.id);
            m.description = mo.value(QStringLiteral("description")).toString();
            m.fileName = mo.value(QStringLiteral("file")).toString();
            m.allowedSides = intList(mo.value(QStringLiteral("allowed_sides")));
            m.hasPreview = mo.value(QStringLiteral("preview")).toBool(true);
            m.hasArchive = mo.value(QStringLiteral("archive")).toBool(true);
            if (!safeFileName(m.fileName)) {
                *error = QStringLiteral("ladder %1 map %2: bad file name \"%3\"").arg(l.abbreviation).arg(m.id).arg(m.fileName);
                return false;
            }
            QFile mapFile(QDir(dir).filePath(QStringLiteral("maps/%1/%2").arg(l.abbreviation, m.fileName)));
            if (!mapFile.open(QIODevice::ReadOnly)) {
                *error = QStringLiteral("cannot read map %1: %2").arg(mapFile.fileName(), mapFile.errorString());
                return false;
            }
            m.bytes = mapFile.readAll();
            l.maps.append(m);
        }
        set.ladders.append(l);
    }
    for (const QJsonValue &av : root.value(QStringLiteral("accounts")).toArray()) {
        const QJsonObject ao = av.toObject();
        AccountDef a;
        a.email = ao.value(QStringLiteral("email")).toString();
        a.password = ao.value(QStringLiteral("password")).toString();
        a.userName = ao.value(QStringLiteral("user_name")).toString();
        a.token = ao.value(QStringLiteral("token")).toString();
        a.fatal = ao.value(QStringLiteral("fatal")).toString();
        for (const QJsonValue &pv : ao.value(QStringLiteral("players")).toArray()) {
            const QJsonObject po = pv.toObject();
            PlayerDef p;
            p.id = po.value(QStringLiteral("id")).toInt();
            p.username = po.value(QStringLiteral("username")).toString();
            p.ladder = po.value(QStringLiteral("ladder")).toString();
            for (const QJsonValue &b : po.value(QStringLiteral("badges")).toArray())
                p.badges.append(b.toString());
            p.clanShort = po.value(QStringLiteral("clan_short")).toString();
            p.clanName = po.value(QStringLiteral("clan_name")).toString();
            a.players.append(p);
        }
        set.accounts.append(a);
    }
    set.finish();
    *out = set;
    return true;
}

bool DataSet::write(const QString &dir, QString *error) const
{
    QJsonArray ladderArray;
    for (const LadderDef &l : ladders) {
        QJsonArray sides;
        for (const SideDef &s : l.sides)
            sides.append(QJsonObject{{QStringLiteral("id"), s.id}, {QStringLiteral("local_id"), s.localId}, {QStringLiteral("name"), s.name}});
        QJsonArray maps;
        QDir mapDir(QDir(dir).filePath(QStringLiteral("maps/") + l.abbreviation));
        mapDir.mkpath(QStringLiteral("."));
        for (const MapDef &m : l.maps) {
            maps.append(QJsonObject{{QStringLiteral("id"), m.id},
                                    {QStringLiteral("bit_idx"), m.bitIdx},
                                    {QStringLiteral("map_id"), m.mapId},
                                    {QStringLiteral("description"), m.description},
                                    {QStringLiteral("file"), m.fileName},
                                    {QStringLiteral("allowed_sides"), toArray(m.allowedSides)},
                                    {QStringLiteral("preview"), m.hasPreview},
                                    {QStringLiteral("archive"), m.hasArchive}});
            QFile f(mapDir.filePath(m.fileName));
            if (!f.open(QIODevice::WriteOnly) || f.write(m.bytes) != m.bytes.size()) {
                *error = QStringLiteral("cannot write %1: %2").arg(f.fileName(), f.errorString());
                return false;
            }
        }
        ladderArray.append(QJsonObject{{QStringLiteral("id"), l.id},
                                       {QStringLiteral("abbreviation"), l.abbreviation},
                                       {QStringLiteral("name"), l.name},
                                       {QStringLiteral("game"), l.game},
                                       {QStringLiteral("current"), l.current},
                                       {QStringLiteral("vetoes"), l.vetoes},
                                       {QStringLiteral("players_per_match"), l.playersPerMatch},
                                       {QStringLiteral("allowed_sides"), toArray(l.allowedSides)},
                                       {QStringLiteral("sides"), sides},
                                       {QStringLiteral("maps"), maps}});
    }
    QJsonArray accountArray;
    for (const AccountDef &a : accounts) {
        QJsonArray players;
        for (const PlayerDef &p : a.players)
            players.append(QJsonObject{{QStringLiteral("id"), p.id},
                                       {QStringLiteral("username"), p.username},
                                       {QStringLiteral("ladder"), p.ladder},
                                       {QStringLiteral("badges"), QJsonArray::fromStringList(p.badges)},
                                       {QStringLiteral("clan_short"), p.clanShort},
                                       {QStringLiteral("clan_name"), p.clanName}});
        accountArray.append(QJsonObject{{QStringLiteral("email"), a.email},
                                        {QStringLiteral("password"), a.password},
                                        {QStringLiteral("user_name"), a.userName},
                                        {QStringLiteral("token"), a.token},
                                        {QStringLiteral("fatal"), a.fatal},
                                        {QStringLiteral("players"), players}});
    }
    QFile file(QDir(dir).filePath(QStringLiteral("sandbox.json")));
    const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("ladders"), ladderArray},
                                                      {QStringLiteral("accounts"), accountArray}})
                                .toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    return true;
}
