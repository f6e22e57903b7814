// SPDX-License-Identifier: MIT
#include "ScriptedHttpServer.h"

#include <httplib.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace varno::test {

namespace {

#ifdef MSG_NOSIGNAL
constexpr int sendFlags = MSG_NOSIGNAL;
#else
constexpr int sendFlags = 0;
#endif

// The port of a socket's own end, or of its peer's; -1 when it has none (a listening
// socket has no peer) or is no IPv4 socket.
int portOf(int fd, bool peer) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    const auto get = peer ? ::getpeername : ::getsockname;
    if (get(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET)
        return -1;
    return ntohs(address.sin_port);
}

std::vector<int> openDescriptors() {
    std::vector<int> fds;
    DIR* dir = ::opendir("/proc/self/fd");
    while (dirent* entry = dir ? ::readdir(dir) : nullptr) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0')
            fds.push_back(static_cast<int>(fd));
    }
    if (dir)
        ::closedir(dir);
    return fds;
}

// httplib hands handlers no socket, so the connection is found by its two ends: the
// accepted socket's local port is the server's and its peer port is the client's.
// Both ends of a live TCP connection identify it uniquely.
std::vector<int> serverConnections(int serverPort, int clientPort) {
    std::vector<int> found;
    for (int fd : openDescriptors()) {
        const int peer = portOf(fd, true);
        if (portOf(fd, false) == serverPort && peer >= 0 && (clientPort < 0 || peer == clientPort))
            found.push_back(fd);
    }
    return found;
}

HeaderList toHeaderList(const httplib::Headers& headers) {
    HeaderList list;
    for (const auto& [name, value] : headers)
        list.append({QByteArray::fromStdString(name), QByteArray::fromStdString(value)});
    return list;
}

QString certificateFolder() {
    return QStringLiteral(VARNO_SOURCE_DIR "/tests/support/certs/");
}

} // namespace

QByteArray RecordedRequest::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

QByteArray RecordedRequest::pathWithoutQuery() const {
    const int query = path.indexOf('?');
    return query < 0 ? path : path.left(query);
}

ScriptedResponse ScriptedResponse::reply(int status, QByteArray body, QByteArray contentType) {
    ScriptedResponse response;
    response.status = status;
    response.body = std::move(body);
    response.contentType = std::move(contentType);
    return response;
}

ScriptedResponse ScriptedResponse::closeConnection() {
    ScriptedResponse response;
    response.action = Action::close;
    return response;
}

ScriptedResponse ScriptedResponse::garbage(QByteArray bytes) {
    ScriptedResponse response;
    response.action = Action::garbage;
    response.rawBytes = std::move(bytes);
    return response;
}

ScriptedResponse ScriptedResponse::rawAnswer(std::function<void(RawConnection&)> script) {
    ScriptedResponse response;
    response.action = Action::raw;
    response.raw = std::move(script);
    return response;
}

ScriptedResponse& ScriptedResponse::withHeader(QByteArray name, QByteArray value) {
    headers.append({std::move(name), std::move(value)});
    return *this;
}

ScriptedResponse& ScriptedResponse::withDelay(std::chrono::milliseconds duration) {
    delay = duration;
    return *this;
}

ScriptedResponse& ScriptedResponse::heldUntilReleased() {
    holdUntilReleased = true;
    return *this;
}

struct ScriptedHttpServer::State {
    Scheme scheme = Scheme::http;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::deque<ScriptedResponse> queue;
    ScriptedResponse fallback = ScriptedResponse::reply(404, "{}");
    Handler handler;
    QList<RecordedRequest> requests;
    quint64 releaseGeneration = 0;
    qint64 rawBytes = 0;
    int rawEnded = 0;
    bool stopping = false;
    bool stopped = false;
    std::atomic<bool> rawStopping{false}; // `stopping`, readable without the mutex

    void handle(const httplib::Request& req, httplib::Response& res);
    // False when the server stopped during the wait.
    bool stall(const ScriptedResponse& script);
    void closeConnection(int clientPort, const QByteArray& bytesFirst);
    void answerRaw(int clientPort, const std::function<void(RawConnection&)>& script);
};

namespace {

// Writes straight to the accepted socket, in short waits so that stop() is never held
// up by a client that stopped reading.
class SocketConnection final : public RawConnection {
public:
    SocketConnection(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}

    bool write(const QByteArray& bytes) override;
    bool pause(std::chrono::milliseconds duration) override;
    qint64 written() const { return written_; }

private:
    int fd_;
    const std::atomic<bool>& stopping_;
    qint64 written_ = 0;
};

} // namespace

void ScriptedHttpServer::State::handle(const httplib::Request& req, httplib::Response& res) {
    RecordedRequest record;
    record.method = QByteArray::fromStdString(req.method);
    record.path = QByteArray::fromStdString(req.target.empty() ? req.path : req.target);
    record.headers = toHeaderList(req.headers);
    record.body = QByteArray::fromStdString(req.body);

    std::optional<ScriptedResponse> script;
    Handler currentHandler;
    {
        std::lock_guard lock(mutex);
        requests.append(record);
        if (!queue.empty()) {
            script = std::move(queue.front());
            queue.pop_front();
        } else if (handler) {
            currentHandler = handler;
        } else {
            script = fallback;
        }
    }
    changed.notify_all();

    if (!script) {
        try {
            script = currentHandler(record);
        } catch (...) {
            script = ScriptedResponse::reply(500, "handler threw", "text/plain");
        }
    }

    if (!stall(*script)) {
        closeConnection(req.remote_port, {});
        res.status = 503;
        return;
    }

    switch (script->action) {
    case ScriptedResponse::Action::close:
        closeConnection(req.remote_port, {});
        res.status = 500; // never reaches the client: the socket is already shut down
        return;
    case ScriptedResponse::Action::garbage:
        closeConnection(req.remote_port, script->rawBytes);
        res.status = 500;
        return;
    case ScriptedResponse::Action::raw:
        answerRaw(req.remote_port, script->raw);
        res.status = 500;
        return;
    case ScriptedResponse::Action::answer:
        break;
    }
    res.status = script->status;
    for (const auto& [name, value] : script->headers)
        res.set_header(name.toStdString(), value.toStdString());
    res.set_content(script->body.toStdString(), script->contentType.toStdString());
}

bool ScriptedHttpServer::State::stall(const ScriptedResponse& script) {
    if (!script.holdUntilReleased && script.delay <= std::chrono::milliseconds::zero())
        return true;
    std::unique_lock lock(mutex);
    if (stopping)
        return false;
    const quint64 generation = releaseGeneration;
    const auto deadline = std::chrono::steady_clock::now() + script.delay;
    if (script.holdUntilReleased) {
        const auto done = [&] { return stopping || releaseGeneration != generation; };
        if (script.delay > std::chrono::milliseconds::zero())
            changed.wait_until(lock, deadline, done);
        else
            changed.wait(lock, done);
    } else {
        changed.wait_until(lock, deadline, [&] { return stopping; });
    }
    return !stopping;
}

void ScriptedHttpServer::State::closeConnection(int clientPort, const QByteArray& bytesFirst) {
    for (int fd : serverConnections(port, clientPort)) {
        if (!bytesFirst.isEmpty())
            ::send(fd, bytesFirst.constData(), static_cast<size_t>(bytesFirst.size()), sendFlags);
        ::shutdown(fd, SHUT_RDWR);
    }
}

bool SocketConnection::write(const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        if (stopping_)
            return false;
        pollfd ready{fd_, POLLOUT, 0};
        const int polled = ::poll(&ready, 1, 50);
        if (polled < 0 && errno != EINTR)
            return false;
        if (polled <= 0)
            continue;
        const ssize_t n = ::send(fd_, bytes.constData() + sent,
                                 static_cast<size_t>(bytes.size() - sent), sendFlags);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            return false;
        sent += n;
        written_ += n;
    }
    return true;
}

bool SocketConnection::pause(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) {
        if (stopping_)
            return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(10), until - std::chrono::steady_clock::now()));
    }
    return !stopping_;
}

void ScriptedHttpServer::State::answerRaw(int clientPort,
                                          const std::function<void(RawConnection&)>& script) {
    const std::vector<int> fds = serverConnections(port, clientPort);
    qint64 written = 0;
    if (fds.size() == 1 && script) {
        SocketConnection connection(fds.front(), rawStopping);
        try {
            script(connection);
        } catch (...) {
        }
        written = connection.written();
    }
    for (int fd : fds)
        ::shutdown(fd, SHUT_RDWR);
    {
        std::lock_guard lock(mutex);
        rawBytes += written;
        ++rawEnded;
    }
    changed.notify_all();
}

ScriptedHttpServer::ScriptedHttpServer(Scheme scheme) : state_(std::make_shared<State>()) {
    state_->scheme = scheme;
    if (scheme == Scheme::https) {
        const QByteArray cert = QFile::encodeName(certificatePath());
        const QByteArray key =
            QFile::encodeName(certificateFolder() + QStringLiteral("localhost.key"));
        state_->server = std::make_unique<httplib::SSLServer>(cert.constData(), key.constData());
    } else {
        state_->server = std::make_unique<httplib::Server>();
    }
    httplib::Server& server = *state_->server;
    if (!server.is_valid())
        throw std::runtime_error(
            "the scripted HTTP server could not be created (TLS certificate?)");

    // Enough workers for several clients that each keep a few connections open
    // while some requests stall.
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    // Idle connections stay open as long as a test may reuse them; stop() closes them.
    server.set_keep_alive_timeout(60);
    server.set_keep_alive_max_count(100000);

    std::weak_ptr<State> weak = state_;
    auto handler = [weak](const httplib::Request& req, httplib::Response& res) {
        if (auto state = weak.lock())
            state->handle(req, res);
    };
    const std::string everything = ".*";
    server.Get(everything, handler);
    server.Post(everything, handler);
    server.Put(everything, handler);
    server.Patch(everything, handler);
    server.Delete(everything, handler);
    server.Options(everything, handler);

    state_->port = server.bind_to_any_port("127.0.0.1");
    if (state_->port <= 0)
        throw std::runtime_error("the scripted HTTP server could not bind to 127.0.0.1");
    state_->thread = std::thread([&server] { server.listen_after_bind(); });
    // stop() only works once the server runs, so wait for that here.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!server.is_running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            server.stop();
            state_->thread.detach();
            throw std::runtime_error("the scripted HTTP server did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

ScriptedHttpServer::~ScriptedHttpServer() {
    stop();
}

quint16 ScriptedHttpServer::port() const {
    return static_cast<quint16>(state_->port);
}

QUrl ScriptedHttpServer::url(const QString& pathAndQuery) const {
    const QString scheme =
        state_->scheme == Scheme::https ? QStringLiteral("https") : QStringLiteral("http");
    return QUrl(
        QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(state_->port).arg(pathAndQuery));
}

void ScriptedHttpServer::enqueue(ScriptedResponse response) {
    std::lock_guard lock(state_->mutex);
    state_->queue.push_back(std::move(response));
}

void ScriptedHttpServer::setDefault(ScriptedResponse response) {
    std::lock_guard lock(state_->mutex);
    state_->fallback = std::move(response);
}

void ScriptedHttpServer::setHandler(Handler handler) {
    std::lock_guard lock(state_->mutex);
    state_->handler = std::move(handler);
}

void ScriptedHttpServer::release() {
    {
        std::lock_guard lock(state_->mutex);
        ++state_->releaseGeneration;
    }
    state_->changed.notify_all();
}

qint64 ScriptedHttpServer::rawBytesWritten() const {
    std::lock_guard lock(state_->mutex);
    return state_->rawBytes;
}

int ScriptedHttpServer::rawAnswersEnded() const {
    std::lock_guard lock(state_->mutex);
    return state_->rawEnded;
}

QList<RecordedRequest> ScriptedHttpServer::requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

int ScriptedHttpServer::requestCount() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<int>(state_->requests.size());
}

void ScriptedHttpServer::clearRequests() {
    std::lock_guard lock(state_->mutex);
    state_->requests.clear();
}

bool ScriptedHttpServer::waitForRequests(int count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const bool hasEventLoop = QCoreApplication::instance() != nullptr &&
                              QAbstractEventDispatcher::instance(QThread::currentThread());
    const auto enough = [&] { return state_->requests.size() >= count; };
    while (true) {
        {
            std::unique_lock lock(state_->mutex);
            if (enough())
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            if (!hasEventLoop) {
                state_->changed.wait_until(lock, deadline, enough);
                continue;
            }
        }
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void ScriptedHttpServer::stop() {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopped)
            return;
        state_->stopped = true;
        state_->stopping = true;
        state_->rawStopping = true;
    }
    state_->changed.notify_all();
    state_->server->stop();
    // Workers wait on idle keep-alive connections for a long time; ending those
    // connections lets the pool wind down at once.
    for (int fd : serverConnections(state_->port, -1))
        ::shutdown(fd, SHUT_RDWR);
    if (state_->thread.joinable())
        state_->thread.join();
}

QString ScriptedHttpServer::certificatePath() {
    return certificateFolder() + QStringLiteral("localhost.crt");
}

} // namespace varno::test
