// SPDX-License-Identifier: MIT
#pragma once

#include "net/HttpExchange.h"

#include <QCoroTask>

#include <stop_token>

class QThreadPool;

namespace varno {

// Exchanges on the libcurl core with the request's redirect policy applied: a 3xx is
// followed only to the same scheme, host and port, never with a user name, and at
// most limits.maxRedirects times; any other 3xx comes back as the answer it is. The
// deadline counts from the first request to the last answer.
class HttpClient {
public:
    // Where the blocking transfers run: the server's requests, pictures and analytics
    // uploads each have their own threads, so that a slow picture host never holds
    // up a sync.
    enum class Lane { server, pictures, analytics };

    // Blocks the calling thread; throws NetworkError.
    static HttpExchangeResponse fetch(HttpExchangeRequest request, std::stop_token token = {});

    // The same on a worker thread of the lane, awaited from the calling thread, which
    // stays free meanwhile. A stop on the token ends the transfer.
    static QCoro::Task<HttpExchangeResponse> send(HttpExchangeRequest request, Lane lane,
                                                  std::stop_token token = {});

    static QThreadPool& pool(Lane lane);
};

} // namespace varno
