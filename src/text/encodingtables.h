#pragma once

#include <cstddef>
#include <cstdint>

// The WHATWG encoding data as the decoders read it, generated at build time by maketables from
// the files in text/whatwg. For the decoders in text/encoding.cpp only.
namespace text::tables {

// Every label and the name of the encoding it stands for, sorted by label.
struct Label {
    const char *label;
    const char *name;
};
extern const Label kLabels[];
extern const std::size_t kLabelCount;

// The gb18030 two-byte index: pointer (lead − 0x81) × 190 + (trail − offset) to a code point
// of the basic plane; every pointer has one.
inline constexpr int kGb18030Size = 126 * 190;
extern const char16_t kGb18030[kGb18030Size];

// The four-byte ranges: from `pointer` on, code points run on from `codePoint`.
struct Range {
    std::uint32_t pointer;
    std::uint32_t codePoint;
};
extern const Range kGb18030Ranges[];
extern const std::size_t kGb18030RangeCount;

// The Big5 index: pointer (lead − 0x81) × 157 + (trail − offset) to the low 16 bits of its
// code point, 0 where it has none; the pointer's bit in kBig5Plane2 adds 0x20000.
inline constexpr int kBig5Size = 126 * 157;
extern const char16_t kBig5[kBig5Size];
extern const unsigned char kBig5Plane2[(kBig5Size + 7) / 8];

} // namespace text::tables
