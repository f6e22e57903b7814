// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

namespace varno::test {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// One request as the server received it.
struct RecordedRequest {
    QByteArray method;  // "GET", "POST", ...
    QByteArray path;    // the request target as sent, query included: "/batch?v=2"
    HeaderList headers; // as received (httplib groups them by name)
    // The body as httplib hands it over: a body sent with "Content-Encoding: gzip" arrives
    // inflated (and one that does not inflate is refused with 400 before the script sees
    // it), so a recorded gzip header plus a readable body proves the upload was valid gzip.
    QByteArray body;

    // First value of the header, compared case-insensitively; null when absent.
    QByteArray header(const QByteArray& name) const;
    // The path without its query.
    QByteArray pathWithoutQuery() const;
};

// The connection of a request answered in raw mode: the script writes the answer's
// bytes itself, so it can cut it short, make it endless or trickle it. Plain http only.
class RawConnection {
public:
    // Sends all of bytes; false once the client has gone or the server is stopping.
    virtual bool write(const QByteArray& bytes) = 0;
    // Waits; false when the server is stopping.
    virtual bool pause(std::chrono::milliseconds duration) = 0;

protected:
    ~RawConnection() = default;
};

// What the server does with one request.
struct ScriptedResponse {
    enum class Action {
        answer,  // send an HTTP response with the status, headers and body below
        close,   // close the connection without sending a byte
        garbage, // send rawBytes (not HTTP) and close the connection
        raw,     // let `raw` write to the connection, then close it
    };

    Action action = Action::answer;
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    HeaderList headers;
    QByteArray rawBytes;
    std::function<void(RawConnection&)> raw;
    // Wait this long before acting. With holdUntilReleased the request waits for
    // release() instead (delay then only bounds the wait when it is above zero).
    // stop() always ends the wait; a request still waiting then gets no answer.
    std::chrono::milliseconds delay{0};
    bool holdUntilReleased = false;

    static ScriptedResponse reply(int status, QByteArray body = {},
                                  QByteArray contentType = "application/json");
    static ScriptedResponse closeConnection();
    static ScriptedResponse garbage(QByteArray bytes = "SSH-2.0-this-is-not-http\r\n\r\n");
    static ScriptedResponse rawAnswer(std::function<void(RawConnection&)> script);

    ScriptedResponse& withHeader(QByteArray name, QByteArray value);
    ScriptedResponse& withDelay(std::chrono::milliseconds duration);
    ScriptedResponse& heldUntilReleased();
};

// A threaded HTTP (or HTTPS) server on 127.0.0.1 and a free port, answering from a
// script and recording every request. It listens from construction to stop() or
// destruction; all accessors are thread-safe.
//
// Answers are chosen per request: the next queued response if any, otherwise the
// handler if one is set, otherwise the default response (initially 404 with "{}").
class ScriptedHttpServer {
public:
    enum class Scheme { http, https };
    using Handler = std::function<ScriptedResponse(const RecordedRequest&)>;

    // Starts listening at once; throws std::runtime_error when it cannot.
    explicit ScriptedHttpServer(Scheme scheme = Scheme::http);
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    quint16 port() const;
    // "http://127.0.0.1:<port>" + pathAndQuery (or https in TLS mode).
    QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;

    // The script.
    void enqueue(ScriptedResponse response);
    void setDefault(ScriptedResponse response);
    void setHandler(Handler handler); // an empty handler removes it

    // Lets every request that is held at this moment go on. Requests held later
    // wait for the next release().
    void release();

    // Bytes written by raw answers so far, and how many raw answers have ended (their
    // script returned, because it was done or the client went away).
    qint64 rawBytesWritten() const;
    int rawAnswersEnded() const;

    // Recorded requests, oldest first.
    QList<RecordedRequest> requests() const;
    int requestCount() const;
    void clearRequests();
    // Waits until at least count requests have arrived (counting from the last
    // clearRequests). On a thread with an event loop the loop keeps turning while it
    // waits, so a client on that thread can make progress.
    bool waitForRequests(int count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // Stops listening, ends every stall and closes every open connection, then
    // returns once the server's threads have finished. Safe to call twice.
    void stop();

    // The self-signed test certificate the https mode serves (valid for 127.0.0.1,
    // localhost and varno.test), under tests/support/certs.
    static QString certificatePath();

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace varno::test
