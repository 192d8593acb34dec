#include "config/Nearest.h"

#include <algorithm>
#include <numeric>

namespace vek {

namespace {

// Edits from a to b, a swap of two neighbours counting as one.
std::size_t editsBetween(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    std::iota(d[0].begin(), d[0].end(), 0);
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

}  // namespace

std::optional<std::string> nearestWord(const std::string& typed,
                                       const std::vector<std::string>& known) {
    // A long word was no slip of the finger, and comparing it would cost its length squared.
    constexpr std::size_t kLongestTypo = 64;
    if (typed.size() > kLongestTypo)
        return std::nullopt;
    std::optional<std::string> best;
    std::size_t fewest = std::max<std::size_t>(1, std::min<std::size_t>(3, typed.size() / 3)) + 1;
    for (const std::string& word : known) {
        const std::size_t edits = editsBetween(typed, word);
        if (edits < fewest) {
            fewest = edits;
            best = word;
        }
    }
    return best;
}

}  // namespace vek
