#include "common/suggest.h"

#include <algorithm>
#include <cstddef>

namespace adrvet_list {
namespace {

// Edits (insert, delete, replace, swap of neighbours) from a to b.
std::size_t distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) {
    d[i][0] = i;
  }
  for (std::size_t j = 0; j <= b.size(); ++j) {
    d[0][j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t replace = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + replace});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::string did_you_mean(std::string_view typed, const std::vector<std::string_view>& names) {
  const std::size_t allowed = std::max<std::size_t>(2, typed.size() / 3);
  std::string_view best;
  std::size_t best_distance = allowed + 1;
  for (const std::string_view name : names) {
    const std::size_t d = distance(typed, name);
    if (d < best_distance) {
      best = name;
      best_distance = d;
    }
  }
  return best.empty() ? std::string() : "; did you mean '" + std::string(best) + "'?";
}

}  // namespace adrvet_list
