#include "check/line/rate_check.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

RateCheck check_rate(int asked, std::optional<int> read_back, ConverterChip chip) {
    RateCheck check;
    check.asked = asked;
    check.read_back = read_back;
    check.within_tolerance =
        read_back && std::abs(*read_back - asked) <= RATE_TOLERANCE * static_cast<double>(asked);
    check.chip_lowest_rate = chip_lowest_rate(chip);
    if (check.chip_lowest_rate) {
        check.chip = chip_name(chip);
    }
    return check;
}

RateFinding rate_finding(const RateCheck& rate) {
    if (rate.chip_lowest_rate && rate.asked < *rate.chip_lowest_rate) {
        return RateFinding::below_chip_lowest;
    }
    if (!rate.read_back) {
        return RateFinding::not_read_back;
    }
    return rate.within_tolerance ? RateFinding::runs : RateFinding::off_rate;
}

bool rate_fails(const RateCheck& rate) {
    const RateFinding finding = rate_finding(rate);
    return finding == RateFinding::below_chip_lowest || finding == RateFinding::off_rate;
}

std::chrono::steady_clock::duration wire_time(int baud_rate, std::size_t bytes) {
    const long long bits = 10LL * static_cast<long long>(bytes);
    return std::chrono::nanoseconds(bits * 1'000'000'000LL / std::max(baud_rate, 1));
}
