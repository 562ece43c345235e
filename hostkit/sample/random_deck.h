// The generator's randomness: a fully specified random sequence, so the same seed gives the
// same data with any compiler and standard library, and decks that guarantee a mix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace orba::hostkit::sample {

// any compiler and standard library.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0 .. n-1 (n > 0).
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
    // lo .. hi inclusive.
    int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
    bool Percent(int p) { return Below(100) < p; }
    template <typename T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(static_cast<int>(N))];
    }

private:
    uint64_t state_;
};

// Draws from a shuffled deck and reshuffles when it is used up, so every card turns up once
// per round: a mix of statuses and missing values is guaranteed, not merely likely, while
// the order still depends on the seed.
class Deck {
public:
    explicit Deck(std::vector<int> cards) : cards_(std::move(cards)), next_(cards_.size()) {}

    int Draw(Random& random) {
        if (next_ == cards_.size()) {
            for (size_t i = cards_.size(); i > 1; --i) {
                std::swap(cards_[i - 1], cards_[static_cast<size_t>(random.Below(static_cast<int>(i)))]);
            }
            next_ = 0;
        }
        return cards_[next_++];
    }

private:
    std::vector<int> cards_;
    size_t next_;
};

}  // namespace orba::hostkit::sample
