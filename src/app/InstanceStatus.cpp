// SPDX-License-Identifier: MIT
#include "app/InstanceStatus.h"

#include "app/SingleInstance.h"

#include "model/Errors.h"
#include "model/Formatting.h"
#include "model/Json.h"
#include "model/OutsideText.h"

namespace varno {

namespace {

QString modeName(InstanceStatus::Mode mode) {
    switch (mode) {
    case InstanceStatus::Mode::tray:
        return QStringLiteral("tray");
    case InstanceStatus::Mode::headless:
        return QStringLiteral("headless");
    case InstanceStatus::Mode::signIn:
        return QStringLiteral("sign-in");
    }
    return {};
}

} // namespace

QByteArray InstanceStatus::toJson() const {
    JsonObjectWriter writer;
    writer.add("mode", modeName(mode)).add("process", process);
    if (lastUpload)
        writer.add("lastUpload", utcTimestamp(*lastUpload));
    if (lastError)
        writer.add("lastError", boundedText(*lastError, maxMessageLength));
    return writer.finish();
}

InstanceStatus InstanceStatus::decode(const JsonNode& node) {
    InstanceStatus status;
    const QString mode = node.requiredString(QStringLiteral("mode"));
    if (mode == modeName(Mode::tray))
        status.mode = Mode::tray;
    else if (mode == modeName(Mode::headless))
        status.mode = Mode::headless;
    else if (mode == modeName(Mode::signIn))
        status.mode = Mode::signIn;
    else
        throw DecodingError(QStringLiteral("unknown mode \"%1\"").arg(boundedText(mode, 40)));
    status.process = node.requiredInteger(QStringLiteral("process"));
    if (const auto upload = node.optionalString(QStringLiteral("lastUpload"))) {
        const QDateTime time = QDateTime::fromString(*upload, Qt::ISODate);
        if (!time.isValid())
            throw DecodingError(QStringLiteral("lastUpload is not a time"));
        status.lastUpload = time;
    }
    if (const auto error = node.optionalString(QStringLiteral("lastError")))
        status.lastError = boundedText(*error, maxMessageLength);
    return status;
}

QString InstanceStatus::whereRunning() const {
    switch (mode) {
    case Mode::tray:
        return QStringLiteral("in the tray (process %1)").arg(process);
    case Mode::headless:
        return QStringLiteral("as a service (varno --headless, process %1)").arg(process);
    case Mode::signIn:
        return QStringLiteral("for a sign-in from a terminal (varno --sign-in, process %1)")
            .arg(process);
    }
    return {};
}

std::optional<InstanceStatus> InstanceStatus::ask(SingleInstance& instance) {
    const std::optional<QByteArray> answer = instance.askStatus();
    if (!answer)
        return std::nullopt;
    try {
        return decodeJson<InstanceStatus>(*answer);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

QString InstanceStatus::alreadyRunning(const std::optional<InstanceStatus>& told,
                                       const SingleInstance& instance) {
    if (told)
        return QStringLiteral("Varno is already running %1.").arg(told->whereRunning());
    if (const std::optional<qint64> process = instance.runningProcess())
        return QStringLiteral("Varno is already running (process %1).").arg(*process);
    return QStringLiteral("Varno is already running.");
}

} // namespace varno
