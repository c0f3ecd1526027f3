#include "sandbox.h"

#include <QJsonArray>
#include <QtTest>

// The ladder web service's login form and token header parsing, its scripted
// refresh answers and faults. The normal exchange is exercised by the API and
// end-to-end tests.
class TestSandboxApi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void login_data();
    void login();
    void refusedRefresh_data();
    void refusedRefresh();
    void scriptedRefresh();
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

void TestSandboxApi::login_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("user"); // empty: refused
    QTest::newRow("alice") << form(QStringLiteral("alice@sandbox.test"), QStringLiteral("alice-pass")) << "alice";
    // "+", "&", "=", "%" and a space in the password, "+" in the address.
    QTest::newRow("decoded") << form(QStringLiteral("zoe+tag@sandbox.test"), QStringLiteral("a+b&c=d%e f")) << "zoë";
    QTest::newRow("plus left unencoded") << QByteArray("email=zoe+tag%40sandbox.test&password=a%2Bb%26c%3Dd%25e%20f") << "";
    QTest::newRow("wrong password") << form(QStringLiteral("alice@sandbox.test"), QStringLiteral("alice-pas")) << "";
    QTest::newRow("unknown account") << form(QStringLiteral("nobody@sandbox.test"), QStringLiteral("alice-pass")) << "";
    QTest::newRow("empty body") << QByteArray() << "";
}

void TestSandboxApi::login()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, user);
    const Sandbox::Reply r = m_sandbox.post(QStringLiteral("/api/v1/auth/login"), body, "application/x-www-form-urlencoded");
    QCOMPARE(r.status, user.isEmpty() ? 401 : 200);
    QCOMPARE(r.json().object().value(QStringLiteral("user_name")).toString(), user);
    QCOMPARE(r.json().object().contains(QStringLiteral("token")), !user.isEmpty());
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
    QScopedPointer<QNetworkReply> reply(manager.get(request));
    QSignalSpy finished(reply.data(), &QNetworkReply::finished);
    QVERIFY(finished.wait(10000));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);
    QCOMPARE(reply->rawHeader("Content-Type"), QByteArray("application/json"));
    QVERIFY(!QJsonDocument::fromJson(reply->readAll()).object().contains(QStringLiteral("token")));
}

void TestSandboxApi::scriptedRefresh()
{
    auto refresh = [this](const char *mode) {
        return m_sandbox.control(QStringLiteral("refresh"), QStringLiteral("mode=") + QLatin1String(mode))
                   ? m_sandbox.get(QStringLiteral("/api/v1/auth/refresh"), "token-alice")
                   : Sandbox::Reply();
    };
    Sandbox::Reply r = refresh("unauthorized");
    QCOMPARE(r.status, 401);
    QCOMPARE(r.contentType, QByteArray("application/json"));
    QCOMPARE(refresh("error").status, 500);
    r = refresh("html");
    QCOMPARE(r.status, 200);
    QCOMPARE(r.contentType, QByteArray("text/html"));
    QVERIFY(!m_sandbox.control(QStringLiteral("refresh"), QStringLiteral("mode=sometimes")));
    r = refresh("ok");
    QCOMPARE(r.status, 200);
    QVERIFY(!r.json().object().value(QStringLiteral("token")).toString().isEmpty());
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
