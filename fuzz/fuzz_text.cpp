// libFuzzer target for the byte and text helpers and the page cutters: no crash, no hang,
// and the properties every caller relies on.
#include "harvest/cutters.h"
#include "text/text.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    // Byte helpers.
    const bool utf8 = text::LooksLikeUtf8(bytes);
    if (size < 3)
        check(!utf8);
    const QString sniffed = text::DecodeSniffed(bytes);
    check(sniffed == (utf8 ? text::DecodeUtf8Bytes(bytes) : text::DecodeGbk(bytes)));

    // Percent-encoding leaves only ASCII and grows each unit to at most nine characters.
    const QString encoded = text::PercentEncodeUtf8(sniffed);
    for (const QChar ch : encoded)
        check(ch.unicode() < 0x80);
    check(encoded.size() <= sniffed.size() * 9);

    // Cutting: the first byte picks a marker length; pieces agree with a plain split.
    if (sniffed.size() < 2)
        return 0;
    const qsizetype markerLength = 1 + qsizetype(data[0] % 3);
    const QString marker = sniffed.left(markerLength);
    const QString page = sniffed.mid(markerLength);
    const QStringList split = page.split(marker);
    const text::MarkerSplit pieces(page, marker);
    check(pieces.markerCount() == split.size() - 1);
    for (qsizetype k = 0; k < split.size() && k < 50; ++k) {
        check(text::PieceAt(page, marker, k) == split[k]);
        check(pieces.piece(k) == split[k]);
    }
    check(text::PieceAt(page, marker, split.size()).isEmpty());
    const QStringView before = text::TextBefore(page, marker);
    check(before.isEmpty() || page.startsWith(before.toString() + marker));

    // The page cutters on arbitrary pages: one row per counted marker.
    cutters::cutListingPage(sniffed);
    cutters::cutSearchPage(sniffed);
    cutters::cutSharePage(sniffed, QStringLiteral("http://share"));
    const QString code = cutters::cutGiftCode(sniffed);
    check(!code.contains(QLatin1Char('&')));
    cutters::cutDownloadQuery(sniffed);
    cutters::giftMark(sniffed);
    return 0;
}
