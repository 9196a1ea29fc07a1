#pragma once

// How much a score may hold, shared by the steps that fill the score model.

#include <cstdint>
#include <stdexcept>

namespace korvalin {

// A refusal of the score exporter; the message is a fixed English text.
class EMusicXmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kMsgScoreTooLarge = "The score is too large to notate";

// Counts the <note> elements (notes and rests) as a score is filled; the first
// one past the limit refuses the score, so even an absurd file costs little.
class TNoteElementBudget {
public:
    explicit TNoteElementBudget(std::int64_t limit) : FLimit(limit) {}

    void Take(std::int64_t elements) {
        FUsed += elements;
        if (FUsed > FLimit) throw EMusicXmlError(kMsgScoreTooLarge);
    }
    std::int64_t Used() const { return FUsed; }
    std::int64_t Limit() const { return FLimit; }

private:
    std::int64_t FLimit;
    std::int64_t FUsed = 0;
};

}  // namespace korvalin
