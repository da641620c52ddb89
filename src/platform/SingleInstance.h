#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cantivo {

// One running desktop program per user and configuration file. The first start claims a local socket
// and listens on it; a later start hands its file paths over to the first and ends.
//
// The socket lives in $XDG_RUNTIME_DIR (else the temporary folder) and only its owner may connect. A
// socket left behind by a run that crashed answers no one, so it is removed and claimed again.
// Received paths reach the handler on the thread that called Claim (the Qt main thread), from its
// event loop; paths that arrive before a handler is set wait for it.
class SingleInstance {
  public:
    using PathsHandler = std::function<void(const std::vector<std::string>& paths)>;

    // "cantivo-<uid>-<hash of the configuration file's absolute path>": tests that use their own
    // configuration file never reach the user's running program.
    static std::string ServerName(const std::string& configPath);

    explicit SingleInstance(std::string serverName);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process is the first and now listens; false when another instance answers (or
    // the socket cannot be made: then Error() says why and HandOver fails too).
    [[nodiscard]] bool Claim();
    bool Claimed() const;

    // Sends the paths (made absolute against the current folder) to the first instance; true once it
    // has confirmed them. An empty list asks it only to come to the front.
    [[nodiscard]] bool HandOver(const std::vector<std::string>& paths, int timeoutMs = 3000);

    void SetPathsHandler(PathsHandler handler);

    // Where the socket is.
    const std::string& SocketPath() const;
    // Why the last Claim or HandOver failed.
    const std::string& Error() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace cantivo
