#include "formdecode.h"

namespace FormDecode {

namespace {
QString decodeComponent(QByteArray text)
{
    text.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text));
}
} // namespace

Fields parse(const QByteArray &body)
{
    Fields fields;
    for (const QByteArray &pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        const int eq = pair.indexOf('=');
        const QByteArray name = eq < 0 ? pair : pair.left(eq);
        const QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        fields.append({decodeComponent(name), decodeComponent(value)});
    }
    return fields;
}

QString value(const Fields &fields, const QString &name)
{
    for (const auto &field : fields) {
        if (field.first == name)
            return field.second;
    }
    return QString();
}

} // namespace FormDecode
