#pragma once

#include <QObject>

class QUdpSocket;
struct SandboxContext;

// Answers A queries for the ping host with 127.0.0.1 and everything else
// with NXDOMAIN, or stays silent, as the context's DNS mode says.
class DnsResponder : public QObject
{
    Q_OBJECT
public:
    DnsResponder(SandboxContext &context, QObject *parent = nullptr);
    bool bind(const QString &address, quint16 port);
    quint16 port() const;

private:
    void readPending();

    SandboxContext &m_context;
    QUdpSocket *m_socket;
};
