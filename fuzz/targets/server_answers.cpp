// SPDX-License-Identifier: MIT
// The server's answers as the client reads them: the first byte picks the status,
// the second whether a session is signed in and which record the call expects, the
// rest is the body. Every answer ends in the decoded record or in one of the errors
// the client documents, with the server's own sentence only from a Failure body, and
// only a 401 to a signed-in call signs the store out.

#include "FuzzCheck.h"
#include "model/Errors.h"
#include "model/Json.h"
#include "store/ServerClient.h"
#include "store/ServerRecords.h"

#include <QCoroTask>
#include <QEventLoop>

#include <cstdint>
#include <exception>
#include <iterator>

using namespace varno;

namespace {

const int statuses[] = {0,   200, 201, 204, 299, 300, 301, 302, 304, 307, 308, 400, 401,
                        403, 404, 409, 413, 422, 429, 500, 502, 503, 504, 599, 600};

QCoro::Task<HttpResponse> answer(HttpResponse response) {
    co_return response;
}

template <typename T>
QCoro::Task<void> drive(QCoro::Task<T> task, bool& done, std::exception_ptr& error,
                        QEventLoop& loop) {
    try {
        co_await std::move(task);
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

// Runs the call to its end (with a fake transport it usually ends at once) and
// rethrows what it threw.
template <typename T> void call(const ServerClient& client) {
    QEventLoop loop;
    bool done = false;
    std::exception_ptr error;
    drive(client.request<T>(QStringLiteral("dashboard?date=2026-03-01"), "GET"), done, error, loop);
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
}

// The sentence a non-2xx answer must give.
QString expectedMessage(const QByteArray& body) {
    try {
        const Failure failure = decodeJson<Failure>(body);
        if (!failure.error.trimmed().isEmpty())
            return failure.error;
    } catch (const DecodingError&) {
    }
    return ServerClient::unavailableMessage;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    fuzz::ensureApplication();
    const int status = statuses[data[0] % std::size(statuses)];
    const bool signedIn = data[1] & 1;
    const int record = (data[1] >> 1) % 4;
    HttpResponse response{status != 0,
                          status,
                          QByteArray(reinterpret_cast<const char*>(data) + 2, qsizetype(size - 2)),
                          {}};
    int rejected = 0;
    const ServerClient client(
        {[] { return QStringLiteral("https://varno.example"); },
         [signedIn] {
             return signedIn ? std::optional(SavedSession{"t", User{"u", "n", "e"}, "s"})
                             : std::nullopt;
         },
         [response](HttpRequest, std::stop_token) { return answer(response); },
         [&rejected] { ++rejected; }});
    const bool success = response.isHttp && status >= 200 && status <= 299;
    try {
        switch (record) {
        case 0:
            call<std::optional<Dashboard>>(client);
            break;
        case 1:
            call<OK>(client);
            break;
        case 2:
            call<Start>(client);
            break;
        case 3:
            call<LoginResponse>(client);
            break;
        }
        FUZZ_CHECK(success);
    } catch (const AppError& error) {
        // A 2xx answer that does not decode reads as unreadable; a decoding error never
        // escapes. Any other answer gives the server's sentence.
        if (success)
            FUZZ_CHECK(error.message() == ServerClient::unreadableMessage);
        else
            FUZZ_CHECK(error.message() == (response.isHttp ? expectedMessage(response.body)
                                                           : ServerClient::noResponseMessage));
    }
    FUZZ_CHECK(rejected == (response.isHttp && status == 401 && signedIn ? 1 : 0));
    return 0;
}
