// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayList>

#include <memory>

namespace varno::test {

// An HTTP proxy on 127.0.0.1 that understands CONNECT only: it records each target
// ("host:port") and tunnels to that port on 127.0.0.1, whatever the host name, so that
// a test name reaches a loopback server through it.
class RecordingProxy {
public:
    RecordingProxy();
    ~RecordingProxy();
    RecordingProxy(const RecordingProxy&) = delete;
    RecordingProxy& operator=(const RecordingProxy&) = delete;

    int port() const;
    QByteArrayList targets() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace varno::test
