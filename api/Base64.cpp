#include "api/Base64.h"

namespace {

int ValueOf(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        // "xx==" and "xxx=" only in the last group.
        const int padding = last ? (text[at + 3] == '=') + (text[at + 2] == '=' && text[at + 3] == '=') : 0;
        unsigned group = 0;
        for (int i = 0; i < 4; ++i) {
            const int value = i >= 4 - padding ? 0 : ValueOf(text[at + i]);
            if (value < 0) return std::nullopt;
            group = (group << 6) | static_cast<unsigned>(value);
        }
        bytes += static_cast<char>((group >> 16) & 0xFF);
        if (padding < 2) bytes += static_cast<char>((group >> 8) & 0xFF);
        if (padding < 1) bytes += static_cast<char>(group & 0xFF);
    }
    return bytes;
}
