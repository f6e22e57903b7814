// SPDX-License-Identifier: MIT
// The records and their JSON rules, as every answer, Keychain item and CodexBar
// document is read: the first byte picks the record, the rest is the document. A
// document either decodes or fails with a DecodingError; what decodes and can be
// written again reads back the same.

#include "model/Records.h"
#include "FuzzCheck.h"
#include "model/Errors.h"
#include "model/Json.h"
#include "store/ServerRecords.h"

#include <cstdint>

using namespace varno;

namespace {

template <typename T> void roundTrips(const T& record) {
    FUZZ_CHECK(decodeJson<T>(record.toJson()) == record);
}

void decode(uint8_t kind, const QByteArray& json) {
    switch (kind % 9) {
    case 0:
        decodeOptionalJson<Dashboard>(json);
        break;
    case 1:
        decodeJson<LoginResponse>(json);
        break;
    case 2:
        roundTrips(decodeJson<SavedSession>(json));
        break;
    case 3:
        roundTrips(decodeJson<User>(json));
        break;
    case 4:
        for (const DailyUsage& day : decodeJsonList<DailyUsage>(json))
            roundTrips(day);
        break;
    case 5:
        decodeJsonList<ProviderUsage>(json);
        break;
    case 6:
        decodeJson<OK>(json);
        break;
    case 7:
        decodeJson<Failure>(json);
        break;
    case 8:
        decodeJson<Start>(json);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArray json(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    try {
        decode(data[0], json);
    } catch (const DecodingError&) {
    }
    return 0;
}
