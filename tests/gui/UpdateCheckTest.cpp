#include "platform/UpdateCheck.h"

#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <optional>

using cantivo::UpdateCheck;
using cantivo::UpdateResult;
using cantivo::UpdateStatus;

namespace {

// A loopback HTTP server that answers every request with one fixed reply (or, with an empty reply,
// keeps the connection open and says nothing).
class FixedReplyServer {
  public:
    explicit FixedReplyServer(QByteArray reply) : reply_(std::move(reply))
    {
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request_ += socket->readAll();
                    if (!request_.contains("\r\n\r\n") || reply_.isEmpty())
                        return;
                    socket->write(reply_);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    bool Listen() { return server_.listen(QHostAddress::LocalHost); }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + "/Version.txt"; }
    const QByteArray& Request() const { return request_; }

  private:
    QTcpServer server_;
    QByteArray reply_;
    QByteArray request_;
};

QByteArray HttpReply(const QByteArray& status, const QByteArray& body)
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// Runs one check to its end.
std::optional<UpdateResult> RunCheck(UpdateCheck& check, const std::string& url, int timeoutMs = 5000)
{
    std::optional<UpdateResult> result;
    int calls = 0;
    check.Start(
        url,
        [&](const UpdateResult& answer) {
            result = answer;
            ++calls;
        },
        timeoutMs, 21803);
    (void)QTest::qWaitFor([&] { return calls > 0; }, 10000);
    QTest::qWait(20);
    if (calls != 1)
        return std::nullopt;
    return result;
}

} // namespace

class UpdateCheckTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy); }
    void repliesFromTheServer_data();
    void repliesFromTheServer();
    void closedPortIsNoConnection();
    void silentServerTimesOut();
    void missingAddressAnswersAtOnce();
    void cancelledCheckNeverAnswers();
};

void UpdateCheckTest::repliesFromTheServer_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("published");
    QTest::addColumn<QByteArray>("notes");

    QTest::newRow("newer") << HttpReply("200 OK", "Version=21804\r\nFaster start.") << int(UpdateStatus::Available)
                           << 21804 << QByteArray("Faster start.");
    QTest::newRow("same") << HttpReply("200 OK", "Version=21803\n") << int(UpdateStatus::UpToDate) << 21803
                          << QByteArray();
    QTest::newRow("older") << HttpReply("200 OK", "Version=2.18.1\n") << int(UpdateStatus::UpToDate) << 21801
                           << QByteArray();
    QTest::newRow("not found") << HttpReply("404 Not Found", "Version=99999\n") << int(UpdateStatus::NoConnection) << 0
                               << QByteArray();
    QTest::newRow("no version") << HttpReply("200 OK", "<html>parked domain</html>") << int(UpdateStatus::NoConnection)
                                << 0 << QByteArray();
    QTest::newRow("long reply is cut") << HttpReply("200 OK", "Version=30000\n" + QByteArray(100000, 'n'))
                                       << int(UpdateStatus::Available) << 30000 << QByteArray(800 - 14, 'n');
    QTest::newRow("not http") << QByteArray("SSH-2.0-nothing\r\n\r\n") << int(UpdateStatus::NoConnection) << 0
                              << QByteArray();
}

void UpdateCheckTest::repliesFromTheServer()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, status);
    QFETCH(int, published);
    QFETCH(QByteArray, notes);

    FixedReplyServer server(reply);
    QVERIFY(server.Listen());
    UpdateCheck check;
    const std::optional<UpdateResult> result = RunCheck(check, server.Url());
    QVERIFY2(result, "the check answered not exactly once");
    QCOMPARE(int(result->status), status);
    QCOMPARE(result->published, published);
    QCOMPARE(QByteArray::fromStdString(result->releaseNotes), notes);
    QVERIFY(server.Request().startsWith("GET /Version.txt HTTP/1.1\r\n"));
    QVERIFY(!check.Running());
}

void UpdateCheckTest::closedPortIsNoConnection()
{
    quint16 port = 0;
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        port = taken.serverPort();
    }
    UpdateCheck check;
    const std::optional<UpdateResult> result =
        RunCheck(check, "http://127.0.0.1:" + std::to_string(port) + "/Version.txt");
    QVERIFY(result);
    QCOMPARE(result->status, UpdateStatus::NoConnection);
    QVERIFY(!result->detail.empty());
    // Quiet at start-up; only the command reports it.
    QVERIFY(!cantivo::UpdateMessage(*result, false));
    QVERIFY(cantivo::UpdateMessage(*result, true));
}

void UpdateCheckTest::silentServerTimesOut()
{
    FixedReplyServer server{QByteArray()};
    QVERIFY(server.Listen());
    UpdateCheck check;
    QElapsedTimer clock;
    clock.start();
    const std::optional<UpdateResult> result = RunCheck(check, server.Url(), 300);
    QVERIFY(result);
    QCOMPARE(result->status, UpdateStatus::NoConnection);
    QVERIFY2(result->detail.find("300 ms") != std::string::npos, result->detail.c_str());
    QVERIFY(clock.elapsed() < 5000);
}

void UpdateCheckTest::missingAddressAnswersAtOnce()
{
    for (const char* url : {"", "not a url", "ftp://127.0.0.1/Version.txt"}) {
        UpdateCheck check;
        const std::optional<UpdateResult> result = RunCheck(check, url);
        QVERIFY2(result, url);
        QCOMPARE(result->status, UpdateStatus::NoConnection);
        QVERIFY(!result->detail.empty());
    }
}

void UpdateCheckTest::cancelledCheckNeverAnswers()
{
    FixedReplyServer server(HttpReply("200 OK", "Version=21804\n"));
    QVERIFY(server.Listen());
    int calls = 0;
    {
        UpdateCheck check;
        check.Start(
            server.Url(), [&](const UpdateResult&) { ++calls; }, 5000, 21803);
        QVERIFY(check.Running());
        check.Cancel();
        QVERIFY(!check.Running());
        QTest::qWait(200);
        QCOMPARE(calls, 0);

        // A new start drops the old one: only the second answers.
        check.Start(
            "", [&](const UpdateResult&) { calls += 10; }, 5000, 21803);
        check.Start(
            server.Url(), [&](const UpdateResult&) { ++calls; }, 5000, 21803);
        QTRY_COMPARE(calls, 1);
        QTest::qWait(100);
        QCOMPARE(calls, 1);

        // Gone before its answer came: no call into a dead owner.
        check.Start(
            server.Url(), [&](const UpdateResult&) { ++calls; }, 5000, 21803);
    }
    QTest::qWait(200);
    QCOMPARE(calls, 1);
}

QTEST_GUILESS_MAIN(UpdateCheckTest)
#include "UpdateCheckTest.moc"
