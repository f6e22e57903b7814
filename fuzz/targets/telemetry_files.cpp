// SPDX-License-Identifier: MIT
// The analytics client's files read back from disk, which anything running as the
// user may have changed: the first byte picks a queued event file or one of the state
// files, the rest is its content. A queued event that reads back is sent as it reads,
// so reading what it writes gives the same event again; a state file gives a value
// of the kind asked for or none.

#include "FuzzCheck.h"
#include "analytics/client/TelemetryEvent.h"
#include "analytics/client/TelemetryStorage.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <iterator>

using namespace varno;

namespace {

void readEvent(const QByteArray& bytes) {
    const std::optional<TelemetryEvent> event = TelemetryEvent::decode(bytes);
    if (!event)
        return;
    const std::optional<TelemetryEvent> again = TelemetryEvent::decode(event->encode());
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->toJSON() == event->toJSON());
}

void readState(uint8_t which, const QByteArray& bytes) {
    using Key = TelemetryStorage::Key;
    static const Key keys[] = {Key::distinctId,          Key::anonymousId, Key::isIdentified,
                               Key::registerProperties,  Key::optOut,      Key::groups,
                               Key::personPropertiesHash};
    static QTemporaryDir folder;
    const Key key = keys[which % std::size(keys)];
    {
        QFile file(folder.filePath(TelemetryStorage::fileName(key)));
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    TelemetryStorage storage(folder.path(), [](const QString&) {});
    if (const std::optional<QJsonValue> value = storage.value(key))
        FUZZ_CHECK(!value->isNull() && !value->isUndefined());
    storage.string(key);
    storage.boolean(key);
    storage.dictionary(key);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    if (data[0] < 128)
        readEvent(bytes);
    else
        readState(data[0], bytes);
    return 0;
}
