#include "watch/statusdatagram.h"

#include <QtEndian>

namespace StatusDatagram {

namespace {

// The largest UDP payload over IPv4, rounded down to a multiple of 4.
constexpr int kMaxSize = 65504;

class Writer
{
public:
    Writer()
    {
        appendU16(0);
        appendU16(0);
        finishRecord();
    }

    void boolean(const char *tag, bool value) { record(tag, Boolean, QByteArray(1, value ? '\1' : '\0')); }

    void integer(const char *tag, qint32 value)
    {
        QByteArray bytes(4, '\0');
        qToBigEndian<qint32>(value, bytes.data());
        record(tag, Integer, bytes);
    }

    void text(const QByteArray &tag, const QString &value)
    {
        QByteArray bytes = value.toUtf8();
        bytes.append('\0');
        record(tag, Text, bytes);
    }

    QByteArray data() const { return m_data; }

private:
    void record(const QByteArray &tag, ValueType type, const QByteArray &value)
    {
        // The 16-bit length fields cannot describe more; an oversized text
        // from the service is left out rather than corrupting the framing.
        if (m_data.size() + 8 + value.size() + 3 > kMaxSize)
            return;
        m_data.append(tag.left(4));
        appendU16(type);
        appendU16(quint16(value.size()));
        m_data.append(value);
        finishRecord();
    }

    void appendU16(quint16 value)
    {
        char bytes[2];
        qToBigEndian<quint16>(value, bytes);
        m_data.append(bytes, 2);
    }

    // Pads to a multiple of 4 and keeps the length field current.
    void finishRecord()
    {
        while (m_data.size() % 4)
            m_data.append('\0');
        qToBigEndian<quint16>(quint16(m_data.size()), m_data.data());
    }

    QByteArray m_data;
};

} // namespace

QByteArray encode(const StatusSnapshot &status)
{
    Writer w;
    w.text("VERS", status.version);
    w.integer("PROC", status.processId);
    w.text("GABB", status.gameAbbreviation);
    w.text("GEXE", status.gameExe);
    w.boolean("INQU", status.inQueue);
    w.boolean("INGM", status.inGame);
    if (status.inGame && status.hasGameProcess) {
        w.text("HASH", status.mapHash);
        w.text("SCEN", status.uiMapName);
        w.integer("GPID", status.gameProcessId);
    }
    if (status.hasPlayer) {
        const int badges = qMin(status.badges.size(), kMaxBadges);
        for (int i = 0; i < badges; ++i)
            w.text("BDG" + QByteArray::number(i), status.badges.at(i));
        w.text("CLAN", status.clanName);
        w.text("CLNS", status.clanShort);
    }
    return w.data();
}

} // namespace StatusDatagram
