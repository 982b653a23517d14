// Test support for code that runs on the simulated platform: verifier failures fail the
// running test, a fixture checks that a test leaves no pool block behind, and a capture
// collects verifier failures for tests that prove a check fires.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sim::testing {

// Fixture base: any pool block allocated during the test and still live at its end is a
// failure, and so is a kernel handle left open, an object reference never dropped or a system
// thread still running.
class VerifiedTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    uint64_t poolMark_ = 0;
    uint64_t objectMark_ = 0;
};

// While alive, verifier failures are collected here instead of failing the test.
class VerifierCapture {
public:
    VerifierCapture();
    ~VerifierCapture();
    VerifierCapture(const VerifierCapture&) = delete;
    VerifierCapture& operator=(const VerifierCapture&) = delete;

    std::vector<std::string> Messages() const;
    // True when some failure's message contains the text.
    bool Saw(const std::string& text) const;
    size_t Count() const;
};

} // namespace sim::testing
