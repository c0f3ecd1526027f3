// Replies from the name server the internet detector asks.
#include "watch/internetdetector.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    quint16 id = 0;
    InternetDetector::Answer answer = InternetDetector::Answer::Other;
    if (InternetDetector::parseReply(bytes, &id, &answer))
        InternetDetector::counts(answer);
    return 0;
}
