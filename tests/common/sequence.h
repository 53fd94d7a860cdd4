// Compares what happened (messages, calls) with a table of what must happen, in order, as Wine's
// message tests do: a step may be optional or repeat; a failure names the step, both values and
// the line of the expectation.
#pragma once

#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

namespace testkit {

enum StepKind { kOnce, kOptional, kAnyNumber };

template <typename T>
struct Step {
    T value;
    StepKind kind = kOnce;
};

template <typename T>
void CheckSequence(const std::vector<T>& seen,
                   const std::vector<Step<std::type_identity_t<T>>>& steps, const char* file,
                   int line) {
    using ::testing::PrintToString;
    size_t s = 0;
    for (size_t e = 0; e < steps.size(); ++e) {
        if (s < seen.size() && seen[s] == steps[e].value)
            e -= steps[e].kind == kAnyNumber, ++s;  // a repeating step is tried again
        else if (steps[e].kind == kOnce)
            ADD_FAILURE_AT(file, line)
                << "step " << e << ": expected " << PrintToString(steps[e].value) << ", got "
                << (s < seen.size() ? PrintToString(seen[s++]) : "nothing");
    }
    for (; s < seen.size(); ++s)
        ADD_FAILURE_AT(file, line) << "unexpected " << PrintToString(seen[s]) << " at the end";
}

}  // namespace testkit

#define EXPECT_SEQUENCE(seen, ...) testkit::CheckSequence(seen, __VA_ARGS__, __FILE__, __LINE__)
