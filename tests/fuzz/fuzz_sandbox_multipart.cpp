// The sandbox's multipart and form parsers take bytes from any local client.
#include "formdecode.h"
#include "multipart.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    // First line: the Content-Type value; the rest: the body.
    const int eol = bytes.indexOf('\n');
    const QByteArray type = eol < 0 ? bytes : bytes.left(eol);
    const QByteArray body = eol < 0 ? QByteArray() : bytes.mid(eol + 1);
    QList<Multipart::Part> parts;
    QString error;
    if (Multipart::parse(body, Multipart::boundary(type), &parts, &error)) {
        int total = 0;
        for (const Multipart::Part &p : parts)
            total += p.body.size();
        if (total > body.size())
            __builtin_trap();
    }
    FormDecode::parse(bytes);
    return 0;
}
