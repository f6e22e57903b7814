// SPDX-License-Identifier: MIT
#pragma once

#include "async/Background.h"
#include "model/Errors.h"
#include "model/Json.h"
#include "model/Records.h"
#include "store/HttpTransport.h"

#include <QCoroTask>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>

namespace varno {

// The JSON client for the server's /api/ endpoints. It keeps no state of its
// own: the owner supplies the server address, the current session, the
// transport and what to do when the server rejects the session.
class ServerClient {
public:
    struct Inputs {
        std::function<QString()> serverURL;
        std::function<std::optional<SavedSession>()> session;
        SendRequest send;
        // Called when a signed-in call is answered with 401, before the error is thrown.
        std::function<void()> sessionRejected;
    };

    static const QString addressMessage;
    static const QString noResponseMessage;
    static const QString unavailableMessage;
    static const QString unreadableMessage;

    explicit ServerClient(Inputs inputs)
        : inputs_(std::make_shared<const Inputs>(std::move(inputs))) {}

    // The checked base address: trimmed, without leading or trailing "/", https
    // or plain http to a loopback host, no user or password. Throws AppError with
    // addressMessage otherwise. The IPv6 loopback is written "[::1]".
    static QString baseAddress(const QString& serverURL);

    // Sends path (relative to /api/, may carry a query) and returns the body of a
    // 2xx answer. Throws CancellationError when the token is stopped before the
    // request goes out or before its answer is looked at; AppError for a bad
    // address, a non-HTTP answer and any other status (the server's own message
    // when it sent one); the transport's error unchanged.
    QCoro::Task<QByteArray> send(QString path, QByteArray method, std::optional<QByteArray> body,
                                 std::stop_token token) const;

    // The same, decoding T (or an optional record, where a JSON null gives nothing)
    // from the answer; a body that does not decode throws AppError with
    // unreadableMessage (the decoder's words go to the log). `polish`, if given, runs
    // on the decoded value where it was decoded (a worker, for a large answer).
    template <typename T>
    QCoro::Task<T> request(QString path, QByteArray method, std::optional<QByteArray> body = {},
                           std::stop_token token = {}, std::function<void(T&)> polish = {}) const {
        const QByteArray answer =
            co_await send(std::move(path), std::move(method), std::move(body), std::move(token));
        std::optional<T> decoded;
        try {
            decoded.emplace(co_await decodeAnswer<T>(answer, std::move(polish)));
        } catch (const DecodingError& error) {
            throw unreadableAnswer(error);
        }
        co_return std::move(*decoded);
    }

    // The error for a 2xx answer that does not decode; logs what the decoder said.
    static AppError unreadableAnswer(const DecodingError& error);

    // Answers up to this size are decoded where they arrive, which takes well under a
    // millisecond; larger ones on a background thread, so that a big answer never
    // holds up the main thread.
    static constexpr qsizetype inlineDecodeBytes = 64 * 1024;

    // T (or an optional record) decoded from an answer body; DecodingError when it
    // does not decode.
    template <typename T>
    static QCoro::Task<T> decodeAnswer(QByteArray answer, std::function<void(T&)> polish = {}) {
        const auto decode = [answer, polish](std::stop_token) {
            T value = [&] {
                if constexpr (IsOptional<T>::value)
                    return decodeOptionalJson<typename T::value_type>(answer);
                else
                    return decodeJson<T>(answer);
            }();
            if (polish)
                polish(value);
            return value;
        };
        if (answer.size() <= inlineDecodeBytes)
            co_return decode({});
        co_return co_await runInBackground(decode);
    }

    // Whether the error only says that the caller's task was cancelled, so that
    // nothing needs showing: the cancellation error itself, or a network
    // cancellation while the token is stopped. A network cancellation while the
    // caller still runs is a real failure.
    static bool isExpectedCancellation(std::exception_ptr error, std::stop_token token);

private:
    template <typename T> struct IsOptional : std::false_type {};
    template <typename U> struct IsOptional<std::optional<U>> : std::true_type {};

    std::shared_ptr<const Inputs> inputs_;
};

} // namespace varno
