#include "catalogue/ansi_text.h"

#include <cstdint>

namespace {

// Windows-1252 from 0x80 to 0x9F; 0 where the code page assigns nothing.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t AnsiCharacter(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0 && kHighControls[byte - 0x80] != 0)
        return kHighControls[byte - 0x80];
    return byte;
}

void PutUtf8(char32_t c, std::string* out) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | c >> 6));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        // Every character of the code page lies in the basic plane.
        out->push_back(static_cast<char>(0xE0 | c >> 12));
        out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The character of the valid UTF-8 sequence at `text[*at]`, moving `*at`
// past it; -1 (and `*at` unchanged) if none starts there.
long NextUtf8(std::string_view text, std::size_t* at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[*at + i]); };
    const unsigned char lead = byte(0);
    int extra = 0;
    char32_t c = 0;
    char32_t lowest = 0;
    if (lead < 0x80) {
        ++*at;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, c = lead & 0x1F, lowest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, c = lead & 0x0F, lowest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, c = lead & 0x07, lowest = 0x10000;
    } else {
        return -1;
    }
    if (text.size() - *at <= static_cast<std::size_t>(extra))
        return -1;
    for (int i = 1; i <= extra; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return -1;
        c = c << 6 | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and what lies beyond Unicode are not UTF-8.
    if (c < lowest || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF)
        return -1;
    *at += 1 + extra;
    return static_cast<long>(c);
}

} // namespace

std::string AnsiToUtf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (char byte : ansi)
        PutUtf8(AnsiCharacter(static_cast<unsigned char>(byte)), &out);
    return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const long c = NextUtf8(utf8, &at);
        if (c < 0) {
            out.push_back(utf8[at++]);
            continue;
        }
        char found = '?';
        for (int byte = 0; byte < 256; ++byte)
            if (AnsiCharacter(static_cast<unsigned char>(byte)) == static_cast<char32_t>(c)) {
                found = static_cast<char>(byte);
                break;
            }
        out.push_back(found);
    }
    return out;
}

bool IsUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();)
        if (NextUtf8(text, &at) < 0)
            return false;
    return true;
}
