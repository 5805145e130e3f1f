#pragma once

// The byte tests that the label lookup and the prescan share, as HTML and the Encoding Standard
// define them: ASCII only, whatever the bytes around.
namespace text::ascii {

inline bool isWhitespace(int c) {
    return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}

inline char lower(int c) {
    return char(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
}

inline bool isLetter(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace text::ascii
