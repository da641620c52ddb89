// The desktop program as a process, stopped by SIGTERM or SIGINT in the middle of a song (and with a
// dialog up): it ends with 0, and the capture log shows nothing left sounding.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <map>
#include <set>

namespace {

struct Heard {
    int notes = 0;
    std::set<std::pair<int, int>> sounding; // (port × 16 + channel, key)
    std::set<int> pedalsDown;
};

// Reads the capture log ("time<TAB>port<TAB>hex bytes" lines, "#" comments) as far as it is written.
Heard ReadCapture(const QString& path)
{
    Heard heard;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return heard;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QList<QByteArray> fields = raw.trimmed().split('\t');
        if (raw.startsWith('#') || fields.size() != 3)
            continue;
        std::vector<int> b;
        for (const QByteArray& byte : fields[2].split(' '))
            if (!byte.isEmpty())
                b.push_back(byte.toInt(nullptr, 16));
        if (b.size() != 3)
            continue;
        const int channel = fields[1].toInt() * 16 + (b[0] & 0x0F);
        const int kind = b[0] & 0xF0;
        if (kind == 0x90 && b[2] > 0) {
            heard.sounding.insert({channel, b[1]});
            ++heard.notes;
        } else if (kind == 0x80 || kind == 0x90) {
            heard.sounding.erase({channel, b[1]});
        } else if (kind == 0xB0 && b[1] == 64) {
            if (b[2] >= 64)
                heard.pedalsDown.insert(channel);
            else
                heard.pedalsDown.erase(channel);
        } else if (kind == 0xB0 && (b[1] == 120 || b[1] == 123)) {
            std::erase_if(heard.sounding, [channel](const auto& note) { return note.first == channel; });
        }
    }
    return heard;
}

} // namespace

class SignalQuitTest : public QObject {
    Q_OBJECT
  private slots:
    void AStopSignalEndsThePerformanceWithNothingSounding_data();
    void AStopSignalEndsThePerformanceWithNothingSounding();
};

void SignalQuitTest::AStopSignalEndsThePerformanceWithNothingSounding_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("script");
    QTest::newRow("SIGTERM while playing") << int{SIGTERM} << "0 Play\n1500 !screenshot ready\n";
    QTest::newRow("SIGINT while playing") << int{SIGINT} << "0 Play\n1500 !screenshot ready\n";
    // The options sheet waits modally for an answer that never comes.
    QTest::newRow("SIGTERM with the options sheet up")
        << int{SIGTERM} << "0 Play\n1000 !options\n1500 !screenshot ready\n";
}

void SignalQuitTest::AStopSignalEndsThePerformanceWithNothingSounding()
{
    QFETCH(int, signal);
    QFETCH(QString, script);
    QTemporaryDir folder;
    const QString set = folder.filePath("demo");
    QDir().mkpath(set);
    for (const QString& name : QDir(QStringLiteral(CANTIVO_SOURCE_DIR "/data/sets/demo")).entryList(QDir::Files))
        QVERIFY(QFile::copy(QStringLiteral(CANTIVO_SOURCE_DIR "/data/sets/demo/") + name, set + "/" + name));
    QFile scriptFile(folder.filePath("script.txt"));
    QVERIFY(scriptFile.open(QIODevice::WriteOnly));
    scriptFile.write(script.toUtf8());
    scriptFile.close();

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    const QString capture = folder.filePath("capture.log");
    program.start(CANTIVO_GUI_PATH, {"--config", folder.filePath("cantivo.ini"), "--data-dir", folder.path(),
                                     "--capture", capture, "--port", "Capture", "--script", scriptFile.fileName(),
                                     "--screenshots", folder.path(), set + "/Demo.set"});
    QVERIFY(program.waitForStarted());
    // The script has come as far as the point of the signal (the capture log is written in blocks,
    // so what sounded is read after the end).
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.filePath("ready.png")), 60000);
    QCOMPARE(::kill(static_cast<pid_t>(program.processId()), signal), 0);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    const Heard heard = ReadCapture(capture);
    QVERIFY(heard.notes > 0);
    QVERIFY2(heard.sounding.empty(), qPrintable(QString("%1 notes left sounding").arg(heard.sounding.size())));
    QVERIFY(heard.pedalsDown.empty());
}

QTEST_MAIN(SignalQuitTest)
#include "SignalQuitTest.moc"
