#include "multipart.h"

namespace Multipart {

namespace {

constexpr int MaxParts = 256;

QByteArray unquote(QByteArray value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2);
    return value;
}

// Content-Disposition: form-data; name="x"; filename="y"
void readDisposition(const QByteArray &value, Part *part)
{
    for (const QByteArray &param : value.split(';')) {
        const int eq = param.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = param.left(eq).trimmed().toLower();
        const QByteArray v = unquote(param.mid(eq + 1));
        if (key == "name") {
            part->name = QString::fromUtf8(v);
        } else if (key == "filename") {
            part->fileName = QString::fromUtf8(v);
            part->hasFileName = true;
        }
    }
}

bool readHeaders(const QByteArray &block, Part *part)
{
    for (const QByteArray &line : block.split('\n')) {
        const QByteArray text = line.endsWith('\r') ? line.left(line.size() - 1) : line;
        if (text.isEmpty())
            continue;
        const int colon = text.indexOf(':');
        if (colon <= 0)
            return false;
        const QByteArray name = text.left(colon).trimmed();
        const QByteArray value = text.mid(colon + 1).trimmed();
        part->headers.append({name, value});
        if (name.compare("Content-Disposition", Qt::CaseInsensitive) == 0)
            readDisposition(value, part);
        else if (name.compare("Content-Type", Qt::CaseInsensitive) == 0)
            part->contentType = value;
    }
    return true;
}

} // namespace

QByteArray boundary(const QByteArray &contentType)
{
    for (const QByteArray &param : contentType.split(';')) {
        const QByteArray p = param.trimmed();
        if (p.toLower().startsWith("boundary="))
            return unquote(p.mid(9));
    }
    return QByteArray();
}

bool parse(const QByteArray &body, const QByteArray &boundaryText, QList<Part> *parts, QString *error)
{
    parts->clear();
    if (boundaryText.isEmpty() || boundaryText.size() > 200) {
        *error = QStringLiteral("bad boundary");
        return false;
    }
    const QByteArray delimiter = "--" + boundaryText;
    int pos = body.indexOf(delimiter);
    if (pos < 0) {
        *error = QStringLiteral("no opening boundary");
        return false;
    }
    while (parts->size() < MaxParts) {
        pos += delimiter.size();
        if (body.mid(pos, 2) == "--")
            return true; // closing delimiter
        if (body.mid(pos, 2) != "\r\n") {
            *error = QStringLiteral("boundary not followed by a line end");
            return false;
        }
        pos += 2;
        const int headerEnd = body.indexOf("\r\n\r\n", pos);
        if (headerEnd < 0) {
            *error = QStringLiteral("part headers not terminated");
            return false;
        }
        Part part;
        if (!readHeaders(body.mid(pos, headerEnd - pos), &part)) {
            *error = QStringLiteral("malformed part header");
            return false;
        }
        const int contentStart = headerEnd + 4;
        const int next = body.indexOf("\r\n" + delimiter, contentStart);
        if (next < 0) {
            *error = QStringLiteral("part not terminated");
            return false;
        }
        part.body = body.mid(contentStart, next - contentStart);
        parts->append(part);
        pos = next + 2;
    }
    *error = QStringLiteral("too many parts");
    return false;
}

} // namespace Multipart
