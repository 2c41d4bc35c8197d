// The middle of a benchmark's figures over its rounds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// The middle of some figures (the mean of the middle two for an even count); 0 for none.
inline double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 != 0 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// Per round, the first figure divided by the second; then their median.
inline double MedianRatio(const std::vector<double>& over, const std::vector<double>& under) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < over.size() && i < under.size(); ++i) {
        if (under[i] > 0) {
            ratios.push_back(over[i] / under[i]);
        }
    }
    return Median(ratios);
}
