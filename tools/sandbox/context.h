#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>

#include <atomic>

class DataSet;
class Journal;
class Matchmaker;
class TokenStore;
struct SandboxOptions;

// What the HTTP handlers and the DNS responder share. The byte caches are
// filled before the first request and only read afterwards; the modes are
// switched at run time through /control.
struct SandboxContext
{
    SandboxContext(const DataSet &d, const SandboxOptions &o, Journal &j, TokenStore &t, Matchmaker &m)
        : data(d), options(o), journal(j), tokens(t), matchmaker(m)
    {
    }

    const DataSet &data;
    const SandboxOptions &options;
    Journal &journal;
    TokenStore &tokens;
    Matchmaker &matchmaker;

    std::atomic<int> dnsMode{0};     // index into Options::DnsModes
    std::atomic<int> refreshMode{0}; // index into Options::RefreshModes

    // Scripted faults: path (or prefix ending in "*") -> HTTP status
    // answered with an HTML body instead of the real reply; and a delay
    // before every reply.
    QMutex faultMutex;
    QHash<QString, int> faults;
    std::atomic<int> delayMs{0};

    QHash<QString, QByteArray> previews; // digest -> PNG
    QHash<QString, QByteArray> archives; // "abbr/digest" -> ZIP
    QByteArray masterList;
};
