#pragma once

#include <QString>

#include <functional>

// Two network namespaces made by the test, joined by a veth pair:
// <subnet>1 in a(), <subnet>2 in b(), loopback up in both. Needs root;
// make() says why when it cannot, so the caller can skip clearly. The
// destructor removes both namespaces (and the pair with them).
class NetnsPair
{
public:
    NetnsPair();
    ~NetnsPair();

    bool make(QString *why);
    QString a() const { return m_a; }
    QString b() const { return m_b; }
    static QString addressA() { return kSubnet + QStringLiteral("1"); }
    static QString addressB() { return kSubnet + QStringLiteral("2"); }

    // Moves the calling thread into the namespace (sockets it opens, threads
    // and processes it starts live there), or back to where the process began.
    static bool enter(const QString &name);
    static bool leave();
    // fn runs with the calling thread in the namespace; after it the thread
    // is back where it was.
    static bool runIn(const QString &name, const std::function<void()> &fn);

private:
    static const QString kSubnet;
    QString m_a, m_b;
    bool m_made = false;
};
