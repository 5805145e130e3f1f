// Decoding throughput of a 1 MiB listing page in GBK and in UTF-8, sliced as WebClient decodes
// large bodies: the ICU decoders through QStringDecoder (the former path) against the decoders
// of text/encoding.h. Also how many of the WHATWG gb18030 index's two-byte codes each GBK path
// reads as browsers do. Prints; asserts nothing about time.
#include "text/encoding.h"
#include "text/text.h"
#include "web/webclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTextStream>

#include <algorithm>
#include <functional>

namespace {

constexpr qsizetype kPageBytes = 1024 * 1024;
constexpr int kRounds = 40;

// A listing page of the stand-in sites' shape, in the given encoding, cut to 1 MiB at a block.
QByteArray listingPage(const char *encoding) {
    QStringEncoder encoder(encoding);
    const QString block =
        QStringLiteral("<li><span class=\"info\"><a href=\"/libao/100231.html\">查看详情</a>"
                       " 更新：2026-11-17</span><a href=\"/libao/100231.html\" "
                       "class=\"title\" target=\"_blank\">原神 周年庆礼包 第231期</a>"
                       "<p><small>文件大小：</small>1.5 GB <em>12次下载</em></p></li>\n");
    const QByteArray encoded = encoder.encode(block);
    QByteArray page = encoder.encode(u"<!DOCTYPE html>\n<html><head><title>礼包</title></head><body><ul>\n");
    while (page.size() + encoded.size() <= kPageBytes)
        page += encoded;
    return page;
}

// The best of several rounds, in MB (10^6 bytes) per second.
double megabytesPerSecond(qsizetype bytes, const std::function<qsizetype()> &round) {
    qint64 best = std::numeric_limits<qint64>::max();
    qsizetype characters = 0;
    for (int i = 0; i < kRounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        characters += round();
        best = std::min(best, clock.nsecsElapsed());
    }
    return characters > 0 ? bytes * 1e3 / double(best) : 0;
}

// Decodes in WebClient's slices, one decoder carried across them.
template <typename Decoder> qsizetype decodeSliced(Decoder decoder, const QByteArray &body) {
    qsizetype characters = 0;
    for (qsizetype at = 0; at < body.size(); at += WebClient::kDecodeSlice) {
        const QString piece =
            decoder.decode(QByteArrayView(body).sliced(at, qMin(WebClient::kDecodeSlice, body.size() - at)));
        characters += piece.size();
    }
    return characters;
}

// Two-byte codes of the gb18030 index that a decoder reads as the index says.
int agreeingCodes(const std::function<QString(QByteArrayView)> &decode, int &total) {
    QFile file(QStringLiteral(GIFTVANE_WHATWG_DATA "/index-gb18030.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    int agreeing = 0;
    total = 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        if (line.startsWith('#') || fields.size() < 2)
            continue;
        const uint pointer = fields[0].trimmed().toUInt();
        const char32_t code = fields[1].toUInt(nullptr, 16);
        const uint trail = pointer % 190;
        const char bytes[] = {char(pointer / 190 + 0x81), char(trail + (trail < 0x3F ? 0x40 : 0x41))};
        ++total;
        agreeing += decode(QByteArrayView(bytes, 2)) == QString::fromUcs4(&code, 1);
    }
    return agreeing;
}

QString icuDecoded(const char *encoding, QByteArrayView bytes) {
    QStringDecoder decoder(encoding);
    return decoder.decode(bytes);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QByteArray gbk = listingPage("GBK");
    const QByteArray utf8 = listingPage("UTF-8");
    out << "pages: GBK " << gbk.size() << " bytes, UTF-8 " << utf8.size() << " bytes; best of " << kRounds
        << " rounds, in " << WebClient::kDecodeSlice / 1024 << " KiB slices\n";
    const auto row = [&](const char *what, double before, double after) {
        out << what << ": ICU/QStringDecoder " << QString::number(before, 'f', 0) << " MB/s, now "
            << QString::number(after, 'f', 0) << " MB/s\n";
    };
    row("GBK page  ",
        megabytesPerSecond(gbk.size(), [&] { return decodeSliced(QStringDecoder("GBK"), gbk); }),
        megabytesPerSecond(gbk.size(), [&] { return decodeSliced(text::TextDecoder("GBK"), gbk); }));
    row("UTF-8 page",
        megabytesPerSecond(utf8.size(),
                           [&] { return decodeSliced(QStringDecoder(QStringConverter::Utf8), utf8); }),
        megabytesPerSecond(utf8.size(), [&] { return decodeSliced(text::TextDecoder("UTF-8"), utf8); }));
    // The choice itself, for a page without a declaration: the whole of it is sniffed.
    const double choosing = megabytesPerSecond(utf8.size(), [&] {
        return text::replyEncoding(utf8, "text/html", text::Fallback::Sniffed).encoding.size();
    });
    out << "choosing the UTF-8 page's encoding (no header charset, prescan, sniff): "
        << QString::number(choosing, 'f', 0) << " MB/s\n";

    int total = 0;
    const int icu = agreeingCodes([](QByteArrayView bytes) { return icuDecoded("GBK", bytes); }, total);
    const int icu18030 =
        agreeingCodes([](QByteArrayView bytes) { return icuDecoded("GB18030", bytes); }, total);
    const int now = agreeingCodes([](QByteArrayView bytes) { return text::decode(bytes, "GBK"); }, total);
    out << "gb18030 index two-byte codes read as browsers read them: ICU GBK " << icu << "/" << total
        << ", ICU GB18030 " << icu18030 << "/" << total << ", now " << now << "/" << total << "\n";
    return 0;
}
