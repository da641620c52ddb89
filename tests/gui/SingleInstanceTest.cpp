#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using cantivo::SingleInstance;

namespace {

// The second start, run as a process of its own: "--hand-over NAME PATH..."; exits 0 when the first
// instance confirmed the paths.
int HandOverMain(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    SingleInstance second(argv[2]);
    if (second.Claim()) {
        std::fprintf(stderr, "the hand-over helper found no first instance\n");
        return 2;
    }
    std::vector<std::string> paths(argv + 3, argv + argc);
    if (!second.HandOver(paths)) {
        std::fprintf(stderr, "%s\n", second.Error().c_str());
        return 1;
    }
    return 0;
}

// A unique server name per test, so runs side by side never meet.
std::string FreshName(const char* what)
{
    return "cantivo-test-" + std::to_string(::getpid()) + "-" + what;
}

// Runs the second start and waits for it while the first's event loop keeps turning.
void RunSecond(QProcess& second, const std::string& name, const QStringList& paths)
{
    second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    second.start(QCoreApplication::applicationFilePath(),
                 QStringList{"--hand-over", QString::fromStdString(name)} + paths);
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    void handOverBetweenProcessesReachesTheFirst();
    void pathsWaitForTheHandler();
    void staleSocketIsReclaimed();
    void secondClaimInTheSameSessionFails();
    void handOverWithoutAFirstInstanceFails();
    void junkClientsDoNotStopTheFirst();
    void serverNameFollowsUserAndConfiguration();
};

void SingleInstanceTest::handOverBetweenProcessesReachesTheFirst()
{
    const std::string name = FreshName("handover");
    SingleInstance first(name);
    QVERIFY2(first.Claim(), first.Error().c_str());
    std::vector<std::vector<std::string>> received;
    first.SetPathsHandler([&](const std::vector<std::string>& paths) { received.push_back(paths); });

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string base = QDir(folder.path()).canonicalPath().toStdString();
    QProcess second;
    second.setWorkingDirectory(QDir(folder.path()).canonicalPath());
    RunSecond(second, name, {"show.set", QString::fromUtf8("/music/Ünïcode song\nwith a line break.mid")});
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(received.size(), size_t(1));
    const std::vector<std::string> expected = {base + "/show.set", "/music/Ünïcode song\nwith a line break.mid"};
    QVERIFY(received[0] == expected);

    // A start with no file asks only to be brought to the front.
    RunSecond(second, name, {});
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(received.size(), size_t(2));
    QVERIFY(received[1].empty());
}

void SingleInstanceTest::pathsWaitForTheHandler()
{
    const std::string name = FreshName("waiting");
    SingleInstance first(name);
    QVERIFY(first.Claim());
    QProcess second;
    RunSecond(second, name, {"/a.mid"});
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
    QCOMPARE(second.exitCode(), 0);

    std::vector<std::string> received;
    first.SetPathsHandler([&](const std::vector<std::string>& paths) { received = paths; });
    QVERIFY(received == std::vector<std::string>{"/a.mid"});
}

void SingleInstanceTest::staleSocketIsReclaimed()
{
    const std::string name = FreshName("stale");
    const std::string path = SingleInstance(name).SocketPath();
    // What a crashed run leaves: a bound socket file that nobody listens on.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    QVERIFY(path.size() < sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    QVERIFY(QFileInfo::exists(QString::fromStdString(path)));

    SingleInstance first(name);
    QVERIFY2(first.Claim(), first.Error().c_str());
    std::vector<std::string> received;
    first.SetPathsHandler([&](const std::vector<std::string>& paths) { received = paths; });
    QProcess second;
    RunSecond(second, name, {"/b.set"});
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(received == std::vector<std::string>{"/b.set"});
}

void SingleInstanceTest::secondClaimInTheSameSessionFails()
{
    const std::string name = FreshName("twice");
    std::string path;
    {
        SingleInstance first(name);
        QVERIFY(first.Claim());
        QVERIFY(first.Claimed());
        SingleInstance second(name);
        QVERIFY(!second.Claim());
        QVERIFY(!second.Claimed());
        QVERIFY(second.Error().empty());
        QVERIFY(!first.HandOver({"/x.mid"}));
        path = first.SocketPath();
    }
    // The first's socket goes with it, so the next start is first again.
    QVERIFY(!QFileInfo::exists(QString::fromStdString(path)));
    SingleInstance next(name);
    QVERIFY(next.Claim());
}

void SingleInstanceTest::handOverWithoutAFirstInstanceFails()
{
    SingleInstance lone(FreshName("lone"));
    QVERIFY(!lone.HandOver({"/x.mid"}, 500));
    QVERIFY2(lone.Error().find("No running instance") != std::string::npos, lone.Error().c_str());
}

void SingleInstanceTest::junkClientsDoNotStopTheFirst()
{
    const std::string name = FreshName("junk");
    SingleInstance first(name);
    QVERIFY(first.Claim());
    int calls = 0;
    first.SetPathsHandler([&](const std::vector<std::string>&) { ++calls; });

    const QList<QByteArray> junk = {
        "GET / HTTP/1.0\r\n\r\n", QByteArray("CANTIVO-OPEN 1\n\xff\xff\xff\xff", 19), // a length far past the bound
        QByteArray("CANTIVO-OPEN 1\n\x00\x00\x00\x10/short", 25),                     // ends before its length
    };
    for (const QByteArray& bytes : junk) {
        QLocalSocket client;
        client.connectToServer(QString::fromStdString(first.SocketPath()));
        QVERIFY(client.waitForConnected(1000));
        client.write(bytes);
        QVERIFY(client.waitForBytesWritten(1000));
        QTest::qWait(50);
        client.abort();
    }
    QTest::qWait(50);
    QCOMPARE(calls, 0);

    QProcess second;
    RunSecond(second, name, {"/c.mid"});
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(calls, 1);
}

void SingleInstanceTest::serverNameFollowsUserAndConfiguration()
{
    QTemporaryDir folder;
    const QString config = folder.filePath("Cantivo.ini");
    const std::string name = SingleInstance::ServerName(config.toStdString());
    QVERIFY(name.rfind("cantivo-" + std::to_string(::getuid()) + "-", 0) == 0);
    QCOMPARE(SingleInstance::ServerName(folder.filePath("x/../Cantivo.ini").toStdString()), name);
    QVERIFY(SingleInstance::ServerName(folder.filePath("Other.ini").toStdString()) != name);
    QVERIFY(SingleInstance(name).SocketPath().size() < 100); // within the socket address limit
}

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--hand-over") == 0)
        return HandOverMain(argc, argv);
    QCoreApplication app(argc, argv);
    SingleInstanceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SingleInstanceTest.moc"
