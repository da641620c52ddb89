#pragma once

#include "app/UpdateVersion.h"

#include <functional>
#include <memory>
#include <string>

namespace cantivo {

// Fetches the published version text over HTTP and compares it with the program's own version. Runs on
// the Qt event loop of the calling thread; the answer comes to the callback on that thread, once.
// A refused connection, an HTTP error, a reply without a version and no answer within the timeout all
// come back as UpdateStatus::NoConnection.
class UpdateCheck {
  public:
    using Done = std::function<void(const UpdateResult& result)>;

    UpdateCheck();
    ~UpdateCheck(); // a check still running is dropped without a callback
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    // Starts a check of `url` against `ownNumber`; one that is still running is dropped first. An empty
    // or malformed address answers NoConnection at once (through the callback, from the event loop).
    void Start(const std::string& url, Done done, int timeoutMs = 5000, int32_t ownNumber = ProgramVersionNumber());
    bool Running() const;
    void Cancel();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace cantivo
