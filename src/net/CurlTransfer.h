// SPDX-License-Identifier: MIT
#pragma once

#include "net/HttpExchange.h"

#include <chrono>
#include <stop_token>

namespace varno {

// One HTTP exchange on libcurl, blocking the calling thread until it ends: no redirect
// followed, no cookie engine, the standard proxy variables, the system's CA store.
// Every bound of the request's limits is applied while the answer arrives. Throws
// NetworkError for anything but a whole answer (whatever its status); the stop
// token ends the transfer within a tenth of a second.
class CurlTransfer {
public:
    static HttpExchangeResponse perform(const HttpExchangeRequest& request,
                                        std::chrono::steady_clock::time_point deadlineAt,
                                        std::stop_token token);
};

} // namespace varno
