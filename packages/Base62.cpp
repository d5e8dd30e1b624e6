#include "packages/Base62.h"

#include <cmath>
#include <stdexcept>
#include <vector>

std::string EncodeBase62(const std::string& bytes) {
    static constexpr char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    size_t zeros = 0;
    while (zeros < bytes.size() && bytes[zeros] == '\0') ++zeros;
    if (zeros == bytes.size()) return std::string();

    const size_t size =
        static_cast<size_t>(std::ceil(static_cast<double>(bytes.size() - zeros) * std::log(256.0) / std::log(62.0)));
    std::vector<unsigned> digits(size, 0);
    size_t used = 0;
    for (size_t i = zeros; i < bytes.size(); ++i) {
        unsigned carry = static_cast<unsigned char>(bytes[i]);
        size_t visited = 0;
        for (size_t d = size; d-- > 0 && (carry != 0 || visited < used); ++visited) {
            carry += 256u * digits[d];
            digits[d] = carry % 62u;
            carry /= 62u;
        }
        if (carry != 0) throw std::runtime_error("Non-zero carry");
        used = visited;
    }

    size_t first = 0;
    while (first < size && digits[first] == 0) ++first;
    std::string text;
    text.reserve(size - first);
    for (size_t d = first; d < size; ++d) text.push_back(kAlphabet[digits[d]]);
    return text;
}
