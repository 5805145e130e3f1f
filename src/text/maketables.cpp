// Build-time tool: turns the WHATWG encoding data in text/whatwg into the tables the decoders
// read (see text/encodingtables.h). Usage: maketables <whatwg folder> <output .cpp>. Any
// surprise in the data stops the build rather than giving a decoder that disagrees with it.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kGb18030Size = 126 * 190;
constexpr int kBig5Size = 126 * 157;

[[noreturn]] void fail(const QString &why) {
    std::fprintf(stderr, "maketables: %s\n", qPrintable(why));
    std::exit(1);
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(path + u": " + file.errorString());
    return file.readAll();
}

// An index file: "pointer<TAB>0xCODE<TAB>…" lines after "#" comments.
QMap<quint32, quint32> readIndex(const QString &path) {
    QMap<quint32, quint32> index;
    const QList<QByteArray> lines = readAll(path).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        bool pointerOk = false, codeOk = false;
        const quint32 pointer = fields.value(0).trimmed().toUInt(&pointerOk);
        const quint32 code = fields.value(1).trimmed().toUInt(&codeOk, 16);
        if (!pointerOk || !codeOk || code == 0 || code > 0x10FFFF || index.contains(pointer))
            fail(path + u":" + QString::number(i + 1) + u": unreadable line");
        index.insert(pointer, code);
    }
    return index;
}

QString hex(quint32 value) {
    return u"0x" + QString::number(value, 16).toUpper();
}

// Numbers, a dozen to a line.
template <typename Values> void writeNumbers(QTextStream &out, const Values &values) {
    int column = 0;
    for (const quint32 value : values) {
        out << (column == 0 ? "    " : " ") << hex(value) << ',';
        if (++column == 12) {
            out << '\n';
            column = 0;
        }
    }
    if (column != 0)
        out << '\n';
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc != 3)
        fail(QStringLiteral("usage: maketables <whatwg folder> <output .cpp>"));
    const QString folder = QString::fromLocal8Bit(argv[1]) + u'/';

    // Labels, sorted so that the decoders can search them.
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(readAll(folder + u"encodings.json"), &error);
    if (json.isNull())
        fail(u"encodings.json: " + error.errorString());
    QMap<QString, QString> labels;
    for (const QJsonValue group : json.array()) {
        for (const QJsonValue encoding : group.toObject().value(u"encodings").toArray()) {
            const QString name = encoding.toObject().value(u"name").toString();
            for (const QJsonValue label : encoding.toObject().value(u"labels").toArray()) {
                const QString text = label.toString();
                if (name.isEmpty() || text.isEmpty() || text != text.toLower() || labels.contains(text))
                    fail(u"encodings.json: odd label " + text);
                labels.insert(text, name);
            }
        }
    }

    // The two-byte gb18030 index covers every pointer, all in the basic plane.
    const QMap<quint32, quint32> gb18030 = readIndex(folder + u"index-gb18030.txt");
    QList<quint32> gbTable(kGb18030Size, 0);
    for (auto it = gb18030.begin(); it != gb18030.end(); ++it) {
        if (it.key() >= kGb18030Size || it.value() > 0xFFFF)
            fail(QStringLiteral("index-gb18030.txt: pointer or code point out of range"));
        gbTable[it.key()] = it.value();
    }
    if (gb18030.size() != kGb18030Size)
        fail(QStringLiteral("index-gb18030.txt: pointers missing"));

    const QMap<quint32, quint32> ranges = readIndex(folder + u"index-gb18030-ranges.txt");
    if (ranges.isEmpty() || ranges.firstKey() != 0)
        fail(QStringLiteral("index-gb18030-ranges.txt: no range at pointer 0"));

    // Big5 reaches into plane 2: the low 16 bits, and one bit per pointer for the plane.
    const QMap<quint32, quint32> big5 = readIndex(folder + u"index-big5.txt");
    QList<quint32> big5Table(kBig5Size, 0);
    QList<quint32> big5Plane2((kBig5Size + 7) / 8, 0);
    for (auto it = big5.begin(); it != big5.end(); ++it) {
        if (it.key() >= kBig5Size || (it.value() > 0xFFFF && it.value() >> 16 != 2))
            fail(QStringLiteral("index-big5.txt: pointer or code point out of range"));
        big5Table[it.key()] = it.value() & 0xFFFF;
        if (it.value() > 0xFFFF)
            big5Plane2[it.key() / 8] |= 1u << (it.key() % 8);
    }

    QSaveFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::WriteOnly))
        fail(file.fileName() + u": " + file.errorString());
    QTextStream out(&file);
    out << "// Generated by maketables from text/whatwg; do not edit.\n"
           "#include \"text/encodingtables.h\"\n\n"
           "namespace text::tables {\n\n";
    out << "const Label kLabels[] = {\n";
    for (auto it = labels.begin(); it != labels.end(); ++it)
        out << "    {\"" << it.key() << "\", \"" << it.value() << "\"},\n";
    out << "};\nconst std::size_t kLabelCount = " << labels.size() << ";\n\n";
    out << "const char16_t kGb18030[kGb18030Size] = {\n";
    writeNumbers(out, gbTable);
    out << "};\n\nconst Range kGb18030Ranges[] = {\n";
    for (auto it = ranges.begin(); it != ranges.end(); ++it)
        out << "    {" << it.key() << ", " << hex(it.value()) << "},\n";
    out << "};\nconst std::size_t kGb18030RangeCount = " << ranges.size() << ";\n\n";
    out << "const char16_t kBig5[kBig5Size] = {\n";
    writeNumbers(out, big5Table);
    out << "};\n\nconst unsigned char kBig5Plane2[(kBig5Size + 7) / 8] = {\n";
    writeNumbers(out, big5Plane2);
    out << "};\n\n} // namespace text::tables\n";
    out.flush();
    if (out.status() != QTextStream::Ok || !file.commit())
        fail(file.fileName() + u": cannot write");
    return 0;
}
