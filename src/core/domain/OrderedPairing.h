#pragma once

#include <QtGlobal>

#include <vector>

namespace quillbarrow {

// The positions of two lists that pairInOrder() left unpaired, in ascending order.
struct OrderedPairing {
    std::vector<qsizetype> unpairedFirst;
    std::vector<qsizetype> unpairedSecond;
};

// Pairs the equal elements of two lists that keep one order but for a few elements, such as a
// folder's listing and the same folder listed again: both are walked at once, one comparison per
// pair, so that pairing 100,000 elements hashes none. Where a pair differs, a few elements ahead on
// either side tell whether elements went from the first list or came into the second there;
// failing that, both elements are left unpaired. Lists that keep no common order stop the walk
// early and leave the rest unpaired, for the caller to look up otherwise.
//
// `same(first, second)` compares the elements at two positions; `pair(first, second)` is told of
// each pair, in order. Each position is paired at most once.
template <typename Same, typename Pair>
OrderedPairing pairInOrder(qsizetype firstCount, qsizetype secondCount, const Same& same, const Pair& pair)
{
    // How far past a differing pair the walk looks: a few elements came or went there.
    constexpr qsizetype lookAhead = 8;
    // Unpaired elements that are still no sign of lists without a common order.
    constexpr qsizetype tolerated = 64;
    OrderedPairing left;
    qsizetype first = 0;
    qsizetype second = 0;
    while (first < firstCount && second < secondCount) {
        if (same(first, second)) {
            pair(first++, second++);
            continue;
        }
        qsizetype gone = 0;
        qsizetype come = 0;
        for (qsizetype ahead = 1; ahead <= lookAhead && gone + come == 0; ++ahead) {
            if (first + ahead < firstCount && same(first + ahead, second)) {
                gone = ahead;
            } else if (second + ahead < secondCount && same(first, second + ahead)) {
                come = ahead;
            }
        }
        if (gone + come == 0) {
            gone = 1; // this pair differs: both are left
            come = 1;
        }
        for (; gone > 0; --gone) {
            left.unpairedFirst.push_back(first++);
        }
        for (; come > 0; --come) {
            left.unpairedSecond.push_back(second++);
        }
        const auto unpaired = static_cast<qsizetype>(left.unpairedFirst.size() + left.unpairedSecond.size());
        if (unpaired > tolerated && unpaired * 4 > first + second) {
            break;
        }
    }
    for (; first < firstCount; ++first) {
        left.unpairedFirst.push_back(first);
    }
    for (; second < secondCount; ++second) {
        left.unpairedSecond.push_back(second);
    }
    return left;
}

} // namespace quillbarrow
