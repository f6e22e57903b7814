// SPDX-License-Identifier: MIT
// The varno:// link that the browser hands back at the end of sign-in, as any program
// on the machine could send it: as the line a second process forwards to the running
// one, and as the link itself. A forwarded line that decodes reads back the same after
// encoding it again. Only a link to varno://auth/callback (scheme and host as written)
// with the one expected state yields a code, and the code is 64 lower-case hexadecimal
// characters; everything else is refused with one of the sign-in sentences. The split
// of a link into its scheme and host as written agrees with Qt's parse but for case.
// The running Varno's answer to a status request reads back the same after encoding it
// again, with its error cut to a showable sentence.

#include "FuzzCheck.h"
#include "app/InstanceStatus.h"
#include "app/SingleInstance.h"
#include "auth/GitHubLogin.h"
#include "model/Errors.h"
#include "model/Json.h"
#include "model/OutsideText.h"
#include "model/UrlText.h"

#include <QUrl>
#include <QUrlQuery>

#include <cstdint>

using namespace varno;

namespace {

void checkLink(const QString& link) {
    static const QString state(64, u'5');
    const QUrl url(link);
    if (url.isValid()) {
        const UrlText written = UrlText::split(link);
        FUZZ_CHECK(written.scheme.toLower() == url.scheme());
    }
    try {
        const QString code = GitHubLogin::code(link, state);
        FUZZ_CHECK(code.size() == 64);
        for (const QChar c : code)
            FUZZ_CHECK((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'));
        FUZZ_CHECK(link.startsWith(QLatin1String("varno://")));
        FUZZ_CHECK(url.host() == QLatin1String("auth") && url.path() == QLatin1String("/callback"));
        FUZZ_CHECK(QUrlQuery(url).allQueryItemValues(QStringLiteral("state"), QUrl::FullyDecoded) ==
                   QStringList{state});
    } catch (const AppError& error) {
        FUZZ_CHECK(error.message() == "GitHub sign-in could not be verified. Please try again." ||
                   error.message() == "GitHub sign-in was cancelled or expired. Please try again.");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const std::optional<InstanceRequest> request = InstanceRequest::decode(bytes)) {
        const std::optional<InstanceRequest> again = InstanceRequest::decode(request->encode());
        FUZZ_CHECK(again && again->kind == request->kind && again->argument == request->argument);
        if (request->kind == InstanceRequest::Kind::OpenURL)
            checkLink(request->argument);
    }
    checkLink(QString::fromUtf8(bytes));
    try {
        const InstanceStatus status = decodeJson<InstanceStatus>(bytes);
        FUZZ_CHECK(!status.lastError || status.lastError->size() <= maxMessageLength + 1);
        const InstanceStatus again = decodeJson<InstanceStatus>(status.toJson());
        FUZZ_CHECK(again.mode == status.mode && again.process == status.process &&
                   again.lastError == status.lastError &&
                   again.lastUpload.has_value() == status.lastUpload.has_value());
    } catch (const DecodingError&) {
    }
    return 0;
}
