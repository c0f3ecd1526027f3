// Replays a fuzz target without libFuzzer: every file of the seed corpus,
// then a bounded number of mutations of them from a fixed seed, so a run is
// repeatable. A crash here is a crash libFuzzer would find.
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char *argv[])
{
    const long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    std::vector<QByteArray> seeds;
    for (int i = 2; i < argc; ++i) {
        QDir dir(QString::fromLocal8Bit(argv[i]));
        for (const QString &name : dir.entryList(QDir::Files)) {
            QFile f(dir.filePath(name));
            if (f.open(QIODevice::ReadOnly))
                seeds.push_back(f.readAll());
        }
    }
    if (seeds.empty())
        seeds.push_back(QByteArray());
    for (const QByteArray &s : seeds)
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(s.constData()), size_t(s.size()));

    std::mt19937 rng(12345);
    for (long r = 0; r < runs; ++r) {
        QByteArray data = seeds[rng() % seeds.size()];
        const int edits = 1 + int(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            switch (rng() % 4) {
            case 0: // flip a byte
                if (!data.isEmpty())
                    data[int(rng() % uint32_t(data.size()))] = char(rng());
                break;
            case 1: // insert random bytes
                data.insert(data.isEmpty() ? 0 : int(rng() % uint32_t(data.size())), QByteArray(1 + int(rng() % 8), char(rng())));
                break;
            case 2: // cut
                if (!data.isEmpty())
                    data.truncate(int(rng() % uint32_t(data.size())));
                break;
            case 3: // duplicate a slice
                if (!data.isEmpty()) {
                    const int at = int(rng() % uint32_t(data.size()));
                    data.append(data.mid(at, 1 + int(rng() % 32)));
                }
                break;
            }
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
    }
    std::printf("fuzz replay: %zu seeds, %ld mutations, no crash\n", seeds.size(), runs);
    return 0;
}
