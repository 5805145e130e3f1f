// Labels to encodings, as "get an encoding" resolves them, from the standard's own table.
#include "text/encoding.h"

#include "text/ascii.h"
#include "text/encodingtables.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace text {

QByteArray encodingForLabel(QByteArrayView label) {
    qsizetype begin = 0, end = label.size();
    while (begin < end && ascii::isWhitespace(uchar(label[begin])))
        ++begin;
    while (end > begin && ascii::isWhitespace(uchar(label[end - 1])))
        --end;
    std::string key;
    key.reserve(end - begin);
    for (qsizetype i = begin; i < end; ++i)
        key.push_back(ascii::lower(uchar(label[i])));
    const tables::Label *first = tables::kLabels;
    const tables::Label *last = first + tables::kLabelCount;
    const tables::Label *found = std::lower_bound(first, last, std::string_view(key),
                                                  [](const tables::Label &entry, std::string_view value) {
                                                      return std::string_view(entry.label) < value;
                                                  });
    if (found == last || found->label != std::string_view(key))
        return {};
    return QByteArray(found->name);
}

} // namespace text
