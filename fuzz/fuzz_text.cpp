// libFuzzer target for what reads outside bytes: decoding (the choice of a reply's encoding,
// the decoders, whole and in slices), percent-encoding, piece cutting, the page cutters and the
// receive-reply reader. No crash, no hang, and the properties every caller relies on.
#include "harvest/cutters.h"
#include "receive/replies.h"
#include "text/encoding.h"
#include "text/text.h"
#include "web/listingsite.h"
#include "web/sites.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Aborts with the line of the property that did not hold.
#define check(condition) ((condition) ? void() : failed(__LINE__))
[[noreturn]] void failed(int line) {
    std::fprintf(stderr, "property at fuzz_text.cpp:%d does not hold\n", line);
    std::abort();
}

const QString kSite = QStringLiteral("http://listing.test:8081");

// A page of blocks built from the input's fields, with titles that link where their block does
// and some titles and sizes left out: cutting it must give each block's own fields back, row
// for row, whether titles stand before or after their info marker.
void blocksComeBack(const QString &input, QByteArrayView drops, bool titlesFirst) {
    QStringList fields = input.split(QChar(1));
    // Text that cannot end a field where it stands: markers' characters and field ends.
    for (QString &field : fields) {
        field.remove(QLatin1Char('<'))
            .remove(QLatin1Char('"'))
            .remove(QLatin1Char(' '))
            .remove(QLatin1Char('>'));
        field.remove(QStringLiteral("class=")).remove(QStringLiteral("文件大小"));
    }
    struct Block {
        QString title, size, link;
    };
    QList<Block> blocks;
    for (qsizetype i = 0; i + 2 < fields.size() && blocks.size() < 40; i += 3) {
        const char drop = drops.isEmpty() ? 0 : drops[blocks.size() % drops.size()];
        blocks.append({drop & 2 ? QString() : fields[i], drop & 4 ? QString() : fields[i + 1],
                       u"/libao/" + QString::number(blocks.size()) + fields[i + 2]});
    }
    QString page = QStringLiteral("<html><body>");
    bool anyTitle = false;
    for (const Block &block : blocks) {
        anyTitle |= !block.title.isNull();
        const QString title = block.title.isNull()
                                  ? QString()
                                  : u"<a href=\"" + block.link + u"\" class=\"title\" target=\"_blank\">" +
                                        block.title + u"</a>";
        const QString size =
            block.size.isNull() ? QString() : u"<p><small>文件大小：</small>" + block.size + u" GB</p>";
        const QString info = u"<span class=\"info\"><a href=\"" + block.link + u"\">x</a></span>";
        page += titlesFirst ? title + size + info : info + title + size;
    }
    page += u"</body></html>";
    const cutters::ListedPage listed = cutters::cutListingPage(page, kSite);
    check(listed.rows.size() == blocks.size());
    if (!anyTitle)
        return; // nothing on the page tells where a block's fields stand
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        check(listed.rows[i].title == blocks[i].title);
        check(listed.rows[i].size == blocks[i].size);
        check(listed.rows[i].key == blocks[i].link || listed.rows[i].foreign);
    }
}

// The bytes decoded in slices whose sizes the input picks (1 to 17 bytes, some across a
// byte-order mark or a character); they must give what decoding at once gives.
QString decodedInSlices(text::TextDecoder decoder, QByteArrayView body, QByteArrayView sizes) {
    QString out;
    qsizetype at = 0;
    for (qsizetype k = 0; at < body.size(); ++k) {
        const qsizetype size = 1 + (sizes.isEmpty() ? 0 : uchar(sizes[k % sizes.size()]) % 17);
        out += decoder.decode(body.sliced(at, qMin(size, body.size() - at)));
        at += size;
    }
    return out + decoder.finish();
}

// The decoders written here: valid UTF-16 out whatever comes in, never more than one unit per
// byte beyond the first, and the same text whole or in slices. Valid UTF-8 reads as Qt reads it.
void decodersHold(QByteArrayView body, QByteArrayView sizes) {
    for (const char *encoding : {"UTF-8", "GBK", "gb18030", "Big5", "UTF-16LE", "UTF-16BE", "windows-1252",
                                 "x-user-defined", "replacement"}) {
        const QString whole = text::decode(body, encoding);
        check(whole.isValidUtf16());
        check(whole.size() <= body.size() + 1);
        check(decodedInSlices(text::TextDecoder(encoding), body, sizes) == whole);
    }
    if (body.isValidUtf8()) {
        QStringDecoder qt(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
        check(text::decode(body, "UTF-8") == qt.decode(body));
    } else {
        check(text::decode(body, "UTF-8").contains(QChar(0xFFFD)));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    // Byte helpers.
    const bool utf8 = text::LooksLikeUtf8(bytes);
    if (size < 3)
        check(!utf8);
    decodersHold(bytes, bytes.first(qMin<qsizetype>(bytes.size(), 5)));

    // A reply with no Content-Type: its byte-order mark, a <meta>, or the sniff.
    const text::ReplyEncoding undeclared = text::replyEncoding(bytes, {}, text::Fallback::Sniffed);
    check(text::canDecode(undeclared.encoding));
    check(undeclared.bomLength == 0 || text::bomEncoding(bytes) == undeclared.encoding);
    const QByteArray meta = text::prescanEncoding(bytes.first(qMin<qsizetype>(bytes.size(), 1024)));
    check(meta.isEmpty() || text::encodingForLabel(meta) == meta);
    if (undeclared.bomLength == 0 && !text::canDecode(meta))
        check(undeclared.encoding == (utf8 ? "UTF-8" : "GBK"));
    const QString sniffed = text::decodeReply(bytes, {}, text::Fallback::Sniffed);
    check(decodedInSlices(text::replyDecoder(bytes, {}, text::Fallback::Sniffed), bytes,
                          bytes.last(qMin<qsizetype>(bytes.size(), 3))) == sniffed);

    // Declared charsets: the label is the input's first line, the body the rest.
    const qsizetype lineEnd = bytes.indexOf('\n');
    const QByteArrayView label =
        lineEnd < 0 ? bytes.first(qMin<qsizetype>(bytes.size(), 24)) : bytes.first(lineEnd);
    const QByteArray contentType = QByteArray("text/html; charset=") + label.toByteArray();
    const QByteArray charset = text::charsetOf(contentType);
    check(!charset.contains(';'));
    const QByteArrayView body = lineEnd < 0 ? QByteArrayView() : bytes.sliced(lineEnd + 1);
    const QByteArray named = text::encodingForLabel(charset);
    check(named.isEmpty() || text::encodingForLabel(named) == named);
    const text::ReplyEncoding declared = text::replyEncoding(body, contentType, text::Fallback::Gbk);
    if (declared.bomLength == 0 && text::canDecode(named))
        check(declared.encoding == named); // a declaration wins over everything but a mark
    const QString decodedBody = text::decodeReply(body, contentType, text::Fallback::Gbk);
    if (declared.bomLength == 0 && charset.trimmed().toLower() == "gb2312")
        check(decodedBody == text::decodeGbk(body));
    // Streaming in slices gives what decoding at once gives, whatever the encoding.
    check(decodedInSlices(text::replyDecoder(body, contentType, text::Fallback::Gbk), body, label) ==
          decodedBody);

    // Percent-encoding leaves only unreserved ASCII and escapes, and decodes back.
    const QString encoded = text::PercentEncodeUtf8(sniffed);
    for (const QChar ch : encoded)
        check(ch.isLetterOrNumber() || QStringView(u"-._~%").contains(ch));
    if (sniffed.isValidUtf16())
        check(text::DecodeUtf8Bytes(QByteArray::fromPercentEncoding(encoded.toLatin1())) == sniffed);

    // Cutting: the first byte picks a marker length; pieces agree with a plain split.
    if (sniffed.size() < 2)
        return 0;
    const qsizetype markerLength = 1 + qsizetype(data[0] % 3);
    const QString marker = sniffed.left(markerLength);
    const QString page = sniffed.mid(markerLength);
    const QStringList split = page.split(marker);
    const text::MarkerSplit pieces2(page, marker);
    check(pieces2.markerCount() == split.size() - 1);
    for (qsizetype k = 0; k < split.size() && k < 50; ++k) {
        check(text::PieceAt(page, marker, k) == split[k]);
        check(pieces2.piece(k) == split[k]);
    }
    check(text::PieceAt(page, marker, split.size()).isEmpty());
    const QStringView before = text::TextBefore(page, marker);
    check(before.isEmpty() || page.startsWith(before.toString() + marker));

    // The page cutters on arbitrary pages: bounded, fields cut where they must end.
    const cutters::ListedPage listing = cutters::cutListingPage(sniffed, kSite);
    check(listing.rows.size() <= cutters::kMaxRows);
    check(listing.rows.size() == qMin(text::countOf(sniffed, listingsite::kInfoMarker), cutters::kMaxRows));
    for (const cutters::ListedResource &row : listing.rows) {
        check(!row.title.contains(QLatin1Char('<')) && !row.size.contains(QLatin1Char(' ')));
        check(!row.key.contains(QLatin1Char('"')));
        check(!row.foreign || row.key.isEmpty());
        check(row.key.isEmpty() || !resolveOnSite(kSite, row.key).isEmpty());
    }
    const cutters::ListedPage search = cutters::cutSearchPage(sniffed, kSite);
    check(search.rows.size() == qMin(text::countOf(sniffed, listingsite::kHeadingMarker), cutters::kMaxRows));
    const cutters::ListedPage share = cutters::cutSharePage(sniffed, QStringLiteral("http://share.test"));
    check(share.rows.size() == qMin(text::countOf(sniffed, u"<em>"), cutters::kMaxRows));
    blocksComeBack(sniffed, bytes.first(qMin<qsizetype>(bytes.size(), 7)), data[0] & 1);

    const QString code = cutters::cutGiftCode(sniffed);
    check(!code.contains(QLatin1Char('&')));
    cutters::cutDownloadQuery(sniffed);
    cutters::giftMark(sniffed);

    // The receive-reply reader: the marker that decided is in the reply, and the first test wins.
    for (const QStringView success : {QStringView(u"成功接收"), QStringView(u"成功")}) {
        const ReceiveOutcome outcome = ClassifyReceiveReply(sniffed, success);
        const QString decided = markerOf(outcome, success);
        check(outcome == ReceiveOutcome::Failed ? decided.isEmpty() : sniffed.contains(decided));
        if (sniffed.contains(u"登录帐号"))
            check(outcome == ReceiveOutcome::NotSignedIn);
    }
    return 0;
}
