#include "discovery/natural_order.h"

namespace hublink {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view digitRun(std::string_view s, std::size_t pos) {
    std::size_t end = pos;
    while (end < s.size() && isDigit(s[end])) ++end;
    return s.substr(pos, end - pos);
}

std::string_view withoutLeadingZeros(std::string_view run) {
    const std::size_t first = run.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view() : run.substr(first);
}

// <0, 0, >0 as the numbers written in two digit runs compare; any length.
int compareRuns(std::string_view a, std::string_view b) {
    a = withoutLeadingZeros(a);
    b = withoutLeadingZeros(b);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

}  // namespace

bool naturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::string_view ra = digitRun(a, i);
            const std::string_view rb = digitRun(b, j);
            if (const int c = compareRuns(ra, rb); c != 0) return c < 0;
            i += ra.size();
            j += rb.size();
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;
}

}  // namespace hublink
