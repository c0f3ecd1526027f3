#include "sandbox.h"

#include <QJsonArray>
#include <QtTest>

// The ladder web service's login, refresh, accounts, ladders, maps and
// statistics, over real HTTP, as the client sends them.
class TestSandboxApi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void loginRefreshAndLists();
    void formBodyIsDecoded();
    void refusedLogin_data();
    void refusedLogin();
    void refusedRefresh_data();
    void refusedRefresh();
    void scriptedRefresh();
    void requestsAreRecorded();
    void scriptedFaultsAndDelay();

private:
    static QByteArray form(const QString &email, const QString &password);
    Sandbox m_sandbox;
};

QByteArray TestSandboxApi::form(const QString &email, const QString &password)
{
    return "email=" + QUrl::toPercentEncoding(email) + "&password=" + QUrl::toPercentEncoding(password);
}

void TestSandboxApi::initTestCase()
{
    QVERIFY2(m_sandbox.start(), qPrintable(m_sandbox.errorText()));
}

void TestSandboxApi::init()
{
    QVERIFY(m_sandbox.reset());
    QVERIFY(m_sandbox.control(QStringLiteral("refresh"), QStringLiteral("mode=ok")));
}

void TestSandboxApi::loginRefreshAndLists()
{
    const Sandbox::Reply login = m_sandbox.post(QStringLiteral("/api/v1/auth/login"),
                                                form(QStringLiteral("alice@sandbox.test"), QStringLiteral("alice-pass")),
                                                "application/x-www-form-urlencoded");
    QCOMPARE(login.status, 200);
    const QJsonObject auth = login.json().object();
    const QByteArray token = auth.value(QStringLiteral("token")).toString().toUtf8();
    QVERIFY(!token.isEmpty());
    QVERIFY(!auth.value(QStringLiteral("session")).toString().isEmpty());
    QCOMPARE(auth.value(QStringLiteral("user_name")).toString(), QStringLiteral("alice"));

    const Sandbox::Reply refresh = m_sandbox.get(QStringLiteral("/api/v1/auth/refresh"), token);
    QCOMPARE(refresh.status, 200);
    QCOMPARE(refresh.contentType, QByteArray("application/json"));
    QCOMPARE(refresh.json().object().value(QStringLiteral("email")).toString(), QStringLiteral("alice@sandbox.test"));
    const QByteArray refreshed = refresh.json().object().value(QStringLiteral("token")).toString().toUtf8();
    QVERIFY(!refreshed.isEmpty());

    // The refreshed token is good for the account list.
    const QJsonArray players = m_sandbox.get(QStringLiteral("/api/v1/user/account"), refreshed).json().array();
    QCOMPARE(players.size(), 3);
    QCOMPARE(players.at(0).toObject().value(QStringLiteral("username")).toString(), QStringLiteral("Alice"));
    QCOMPARE(players.at(0).toObject().value(QStringLiteral("ladder_id")).toInt(), 1);
    QCOMPARE(players.at(0).toObject().value(QStringLiteral("clan_short")).toString(), QStringLiteral("LRV"));
    QCOMPARE(players.at(0).toObject().value(QStringLiteral("badges")).toArray().size(), 2);
    QCOMPARE(m_sandbox.get(QStringLiteral("/api/v1/user/account")).status, 401);

    const QJsonArray ladders = m_sandbox.get(QStringLiteral("/api/v1/ladder"), token).json().array();
    QStringList abbreviations;
    for (const QJsonValue &l : ladders) {
        const QJsonObject ladder = l.toObject();
        abbreviations.append(ladder.value(QStringLiteral("abbreviation")).toString());
        QVERIFY(!ladder.value(QStringLiteral("sides")).toArray().isEmpty());
        QVERIFY(ladder.contains(QStringLiteral("vetoes")));
        QVERIFY(ladder.value(QStringLiteral("allowed_sides")).isArray());
        for (const QJsonValue &s : ladder.value(QStringLiteral("sides")).toArray())
            QCOMPARE(s.toObject().value(QStringLiteral("ladder_id")).toInt(), ladder.value(QStringLiteral("id")).toInt());

        const QJsonArray maps = m_sandbox.get(QStringLiteral("/api/v1/zantry/ladder/%1/maps").arg(abbreviations.last()), token)
                                    .json()
                                    .array();
        QVERIFY(maps.size() >= 3);
        QSet<int> bits;
        for (const QJsonValue &m : maps) {
            QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{40}$")).match(m.toObject().value(QStringLiteral("hash")).toString()).hasMatch());
            bits.insert(m.toObject().value(QStringLiteral("bit_idx")).toInt());
        }
        QCOMPARE(bits.size(), maps.size());

        const QJsonObject stats = m_sandbox.get(QStringLiteral("/api/v1/zantry/ladder/%1/stats").arg(abbreviations.last()), token)
                                      .json()
                                      .object();
        QVERIFY(stats.value(QStringLiteral("recentMatches")).isDouble());
        QVERIFY(stats.value(QStringLiteral("queuedPlayers")).isDouble());
    }
    QCOMPARE(abbreviations, (QStringList{QStringLiteral("yr"), QStringLiteral("ts"), QStringLiteral("ra")}));
    QCOMPARE(m_sandbox.get(QStringLiteral("/api/v1/zantry/ladder/nope/maps")).status, 404);
}

void TestSandboxApi::formBodyIsDecoded()
{
    // "+", "&", "=", "%" and a space in the password, "+" in the address.
    const Sandbox::Reply login = m_sandbox.post(QStringLiteral("/api/v1/auth/login"),
                                                form(QStringLiteral("zoe+tag@sandbox.test"), QStringLiteral("a+b&c=d%e f")),
                                                "application/x-www-form-urlencoded");
    QCOMPARE(login.status, 200);
    QCOMPARE(login.json().object().value(QStringLiteral("user_name")).toString(), QStringLiteral("zoë"));
}

void TestSandboxApi::refusedLogin_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("wrong password") << form(QStringLiteral("alice@sandbox.test"), QStringLiteral("alice-pas"));
    QTest::newRow("unknown account") << form(QStringLiteral("nobody@sandbox.test"), QStringLiteral("alice-pass"));
    QTest::newRow("plus left unencoded") << QByteArray("email=zoe+tag%40sandbox.test&password=a%2Bb%26c%3Dd%25e%20f");
    QTest::newRow("empty body") << QByteArray();
}

void TestSandboxApi::refusedLogin()
{
    QFETCH(QByteArray, body);
    const Sandbox::Reply login = m_sandbox.post(QStringLiteral("/api/v1/auth/login"), body, "application/x-www-form-urlencoded");
    QCOMPARE(login.status, 401);
    QVERIFY(!login.json().object().contains(QStringLiteral("token")));
}

void TestSandboxApi::refusedRefresh_data()
{
    QTest::addColumn<QByteArray>("authorization");
    QTest::newRow("none") << QByteArray();
    QTest::newRow("space instead of colon") << QByteArray("Bearer token-alice");
    QTest::newRow("space after colon") << QByteArray("Bearer: token-alice");
    QTest::newRow("empty token") << QByteArray("Bearer:");
    QTest::newRow("unknown token") << QByteArray("Bearer:token-mallory");
}

void TestSandboxApi::refusedRefresh()
{
    QFETCH(QByteArray, authorization);
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(m_sandbox.apiUrl() + QStringLiteral("/auth/refresh")));
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization);
    QNetworkReply *reply = manager.get(request);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    QVERIFY(finished.wait(10000));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);
    QCOMPARE(reply->rawHeader("Content-Type"), QByteArray("application/json"));
    QVERIFY(!QJsonDocument::fromJson(reply->readAll()).object().contains(QStringLiteral("token")));
    delete reply;
}

void TestSandboxApi::scriptedRefresh()
{
    QVERIFY(m_sandbox.control(QStringLiteral("refresh"), QStringLiteral("mode=unauthorized")));
    Sandbox::Reply r = m_sandbox.get(QStringLiteral("/api/v1/auth/refresh"), "token-alice");
    QCOMPARE(r.status, 401);
    QCOMPARE(r.contentType, QByteArray("application/json"));

    QVERIFY(m_sandbox.control(QStringLiteral("refresh"), QStringLiteral("mode=error")));
    QCOMPARE(m_sandbox.get(QStringLiteral("/api/v1/auth/refresh"), "token-alice").status, 500);

    QVERIFY(m_sandbox.control(QStringLiteral("refresh"), QStringLiteral("mode=html")));
    r = m_sandbox.get(QStringLiteral("/api/v1/auth/refresh"), "token-alice");
    QCOMPARE(r.status, 200);
    QCOMPARE(r.contentType, QByteArray("text/html"));

    QVERIFY(!m_sandbox.control(QStringLiteral("refresh"), QStringLiteral("mode=sometimes")));
    QVERIFY(m_sandbox.control(QStringLiteral("refresh"), QStringLiteral("mode=ok")));
    QCOMPARE(m_sandbox.get(QStringLiteral("/api/v1/auth/refresh"), "token-alice").status, 200);
}

void TestSandboxApi::requestsAreRecorded()
{
    m_sandbox.post(QStringLiteral("/api/v1/auth/login"), form(QStringLiteral("bob@sandbox.test"), QStringLiteral("bob-pass")),
                   "application/x-www-form-urlencoded", "token-bob");
    m_sandbox.get(QStringLiteral("/no/such/page"));
    const QJsonArray requests = m_sandbox.inspect().value(QStringLiteral("requests")).toArray();
    QCOMPARE(requests.size(), 2);
    const QJsonObject login = requests.at(0).toObject();
    QCOMPARE(login.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
    QCOMPARE(login.value(QStringLiteral("path")).toString(), QStringLiteral("/api/v1/auth/login"));
    QCOMPARE(login.value(QStringLiteral("status")).toInt(), 200);
    QCOMPARE(login.value(QStringLiteral("body")).toString(), QStringLiteral("email=bob%40sandbox.test&password=bob-pass"));
    const QJsonObject headers = login.value(QStringLiteral("headers")).toObject();
    QCOMPARE(headers.value(QStringLiteral("Authorization")).toString(), QStringLiteral("Bearer:token-bob"));
    QCOMPARE(headers.value(QStringLiteral("Content-Type")).toString(), QStringLiteral("application/x-www-form-urlencoded"));
    QCOMPARE(requests.at(1).toObject().value(QStringLiteral("status")).toInt(), 404);
    QVERIFY(login.value(QStringLiteral("remote")).toString().startsWith(QLatin1String("127.0.0.1:")));

    // Only what came after an earlier look.
    const int seq = m_sandbox.inspect().value(QStringLiteral("seq")).toInt();
    QVERIFY(seq >= 2);
    m_sandbox.get(QStringLiteral("/ladder"));
    const QJsonArray later = m_sandbox.inspect(seq).value(QStringLiteral("requests")).toArray();
    QCOMPARE(later.size(), 1);
    QCOMPARE(later.at(0).toObject().value(QStringLiteral("path")).toString(), QStringLiteral("/ladder"));
}

void TestSandboxApi::scriptedFaultsAndDelay()
{
    QVERIFY(m_sandbox.control(QStringLiteral("fail"), QStringLiteral("path=/api/v1/ladder&status=500")));
    QVERIFY(m_sandbox.control(QStringLiteral("fail"), QStringLiteral("path=/api/v1/zantry/*&status=502")));
    Sandbox::Reply r = m_sandbox.get(QStringLiteral("/api/v1/ladder"));
    QCOMPARE(r.status, 500);
    QCOMPARE(r.contentType, QByteArray("text/html"));
    QCOMPARE(m_sandbox.get(QStringLiteral("/api/v1/zantry/ladder/yr/maps")).status, 502);
    QCOMPARE(m_sandbox.post(QStringLiteral("/api/v1/zantry/yr/Alice"), "{\"type\": \"match me up\"}", "application/json", "token-alice").status, 502);
    QVERIFY(m_sandbox.inspect().value(QStringLiteral("queue")).toArray().isEmpty()); // refused before queueing
    QCOMPARE(m_sandbox.get(QStringLiteral("/api/v1/user/account"), "token-alice").status, 200);
    QVERIFY(!m_sandbox.control(QStringLiteral("fail"), QStringLiteral("path=/api/v1/ladder&status=200")));
    QVERIFY(m_sandbox.control(QStringLiteral("fail"), QStringLiteral("path=/api/v1/ladder&status=0")));
    QCOMPARE(m_sandbox.get(QStringLiteral("/api/v1/ladder")).status, 200);

    QVERIFY(m_sandbox.control(QStringLiteral("delay"), QStringLiteral("ms=300")));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_sandbox.get(QStringLiteral("/api/v1/ladder")).status, 200);
    QVERIFY(clock.elapsed() >= 300);
    QVERIFY(m_sandbox.reset()); // clears faults and the delay
    QCOMPARE(m_sandbox.get(QStringLiteral("/api/v1/zantry/ladder/yr/maps")).status, 200);
}

QTEST_MAIN(TestSandboxApi)
#include "tst_sandbox_api.moc"
