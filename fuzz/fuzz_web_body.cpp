// The viewer's presentation of a fetched reply, and the version check that reads it.
//
// Input: the Content-Type header up to the first newline, the reply's bytes after it.
#include <QByteArray>
#include <QString>
#include <cstdlib>

#include "update/VersionRecord.h"
#include "update/WebViewer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    const QByteArray contentType = newline < 0 ? QByteArray() : input.left(newline);
    const QByteArray body = newline < 0 ? input : input.mid(newline + 1);
    const vek::WebDocument document = vek::CppWebBrowser::documentFromReply(contentType, body);
    const QString markup = document.bodyInnerHtml();
    if (!document.hasBody() && !markup.isEmpty())
        std::abort();
    // As the version check reads it: one byte per character.
    const QByteArray text = markup.toLatin1();
    if (text.size() != markup.size())
        std::abort();
    (void)vek::parseVersionRecord(std::string_view(text.constData(), std::size_t(text.size())));
    return 0;
}
