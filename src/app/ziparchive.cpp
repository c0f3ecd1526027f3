#include "app/ziparchive.h"

#include <QBuffer>
#include <private/qzipwriter_p.h>

namespace ZipArchive {

QByteArray build(const QList<QPair<QString, QByteArray>> &entries)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QZipWriter writer(&buffer);
        writer.setCompressionPolicy(QZipWriter::AutoCompress);
        for (const auto &entry : entries)
            writer.addFile(entry.first, entry.second);
        writer.close();
    }
    return buffer.data();
}

} // namespace ZipArchive
