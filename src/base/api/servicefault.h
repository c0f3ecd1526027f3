#pragma once

#include <QString>

class QNetworkReply;

// What went wrong with an exchange with the ladder service, in words a
// player can act on: the network, the service's certificate, or an answer
// this client does not understand.
struct ServiceFault
{
    enum Kind { None, Unreachable, Certificate, Unexpected };

    Kind kind = None;
    // "Connection refused", "no answer within 30 s", "HTTP 500, text/html",
    // "redirect (HTTP 302) to https://...".
    QString detail;
    int status = 0;

    bool isFault() const { return kind != None; }
    QString message() const;

    // A reply that did not end in an HTTP answer (refused, timed out, TLS).
    static ServiceFault ofTransport(const QNetworkReply *reply);
    // A reply that is not a 2xx JSON answer; None when it is one.
    static ServiceFault ofAnswer(const QNetworkReply *reply);
    // Whether the reply says it is JSON, parameters such as a charset aside.
    static bool isJson(const QNetworkReply *reply);
};
