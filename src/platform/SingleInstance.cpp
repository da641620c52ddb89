#include "platform/SingleInstance.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <QtEndian>

#include <unistd.h>

namespace cantivo {

namespace {

// A hand-over: the greeting, a 32-bit big-endian length, then that many bytes of UTF-8 paths, each
// ended by a NUL (the one byte no path holds). The first instance answers Acknowledge.
const QByteArray Greeting = "CANTIVO-OPEN 1\n";
const QByteArray Acknowledge = "OK\n";
// A bound on what a client may make the first instance buffer.
constexpr quint32 MaxPayloadBytes = 1 << 20;
// A client that stops half-way is dropped after this.
constexpr int StalledClientMs = 5000;

QString RuntimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime;
    return QDir::tempPath();
}

} // namespace

struct SingleInstance::Impl {
    std::string name;
    std::string socketPath;
    std::string error;
    std::unique_ptr<QLocalServer> server;
    PathsHandler handler;
    std::vector<std::vector<std::string>> waiting; // hand-overs received before a handler was set

    void Deliver(std::vector<std::string> paths)
    {
        if (handler)
            handler(paths);
        else
            waiting.push_back(std::move(paths));
    }

    void Accept()
    {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            auto* stalled = new QTimer(socket);
            stalled->setSingleShot(true);
            QObject::connect(stalled, &QTimer::timeout, socket, [socket] { socket->abort(); });
            stalled->start(StalledClientMs);
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, buffer, stalled] {
                buffer->append(socket->readAll());
                const qsizetype header = Greeting.size() + 4;
                if (!Greeting.startsWith(buffer->left(Greeting.size()))) {
                    socket->abort(); // not one of ours
                    return;
                }
                if (buffer->size() < header)
                    return;
                const quint32 length = qFromBigEndian<quint32>(buffer->constData() + Greeting.size());
                if (length > MaxPayloadBytes) {
                    socket->abort();
                    return;
                }
                if (buffer->size() < header + static_cast<qsizetype>(length))
                    return;
                stalled->stop();
                std::vector<std::string> paths;
                const QByteArray payload = buffer->mid(header, length);
                qsizetype start = 0;
                while (start < payload.size()) {
                    qsizetype end = payload.indexOf('\0', start);
                    if (end < 0)
                        end = payload.size();
                    paths.emplace_back(payload.constData() + start, static_cast<size_t>(end - start));
                    start = end + 1;
                }
                buffer->clear();
                socket->write(Acknowledge);
                socket->flush();
                socket->disconnectFromServer();
                Deliver(std::move(paths));
            });
        }
    }
};

std::string SingleInstance::ServerName(const std::string& configPath)
{
    QFileInfo info(QString::fromStdString(configPath));
    QString path = info.exists() ? info.canonicalFilePath() : QDir::cleanPath(info.absoluteFilePath());
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return "cantivo-" + std::to_string(::getuid()) + "-" + hash.toStdString();
}

SingleInstance::SingleInstance(std::string serverName) : impl_(std::make_unique<Impl>())
{
    impl_->name = std::move(serverName);
    impl_->socketPath = QDir(RuntimeFolder()).filePath(QString::fromStdString(impl_->name)).toStdString();
}

SingleInstance::~SingleInstance()
{
    if (impl_->server)
        impl_->server->close(); // removes the socket file, so the next start claims at once
}

bool SingleInstance::Claim()
{
    impl_->error.clear();
    if (impl_->server)
        return true;
    const QString path = QString::fromStdString(impl_->socketPath);

    // Two programs started at once must not both take the socket: the check and the listen go together.
    QLockFile lock(path + ".lock");
    lock.setStaleLockTime(10000);
    const bool locked = lock.tryLock(3000);

    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(1000)) {
        probe.abort();
        return false;
    }
    // Nobody answers: what is there was left by a run that ended without closing it.
    QLocalServer::removeServer(path);
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        impl_->error =
            "The program could not listen on " + impl_->socketPath + ": " + server->errorString().toStdString();
        return false;
    }
    if (locked)
        lock.unlock();
    impl_->server = std::move(server);
    QObject::connect(impl_->server.get(), &QLocalServer::newConnection, impl_->server.get(),
                     [impl = impl_.get()] { impl->Accept(); });
    return true;
}

bool SingleInstance::Claimed() const
{
    return impl_->server != nullptr;
}

bool SingleInstance::HandOver(const std::vector<std::string>& paths, int timeoutMs)
{
    impl_->error.clear();
    if (impl_->server) {
        impl_->error = "This process is the first instance; there is nobody to hand the files to.";
        return false;
    }
    QByteArray payload;
    for (const std::string& path : paths) {
        if (path.find('\0') != std::string::npos)
            continue;
        payload += QFileInfo(QString::fromStdString(path)).absoluteFilePath().toUtf8();
        payload += '\0';
    }
    if (payload.size() > static_cast<qsizetype>(MaxPayloadBytes)) {
        impl_->error = "Too many files to hand over at once.";
        return false;
    }
    QByteArray message = Greeting;
    char length[4];
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), length);
    message.append(length, 4);
    message += payload;

    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(impl_->socketPath));
    if (!socket.waitForConnected(timeoutMs)) {
        impl_->error =
            "No running instance answers on " + impl_->socketPath + ": " + socket.errorString().toStdString();
        return false;
    }
    socket.write(message);
    QByteArray answer;
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(timeoutMs)) {
    }
    while (!answer.contains('\n')) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(timeoutMs))
            break;
        answer += socket.readAll();
    }
    if (answer != Acknowledge) {
        impl_->error = "The running instance did not confirm the files.";
        return false;
    }
    return true;
}

void SingleInstance::SetPathsHandler(PathsHandler handler)
{
    impl_->handler = std::move(handler);
    if (!impl_->handler)
        return;
    auto waiting = std::move(impl_->waiting);
    impl_->waiting.clear();
    for (auto& paths : waiting)
        impl_->handler(paths);
}

const std::string& SingleInstance::SocketPath() const
{
    return impl_->socketPath;
}

const std::string& SingleInstance::Error() const
{
    return impl_->error;
}

} // namespace cantivo
