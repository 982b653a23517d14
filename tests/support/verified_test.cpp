#include "tests/support/verified_test.h"

#include <mutex>

#include "sim/wdk/objects.h"
#include "sim/wdk/pool.h"
#include "sim/wdk/verifier.h"

namespace sim::testing {
namespace {

std::mutex g_mutex;
int g_captures = 0;
std::vector<std::string> g_captured;

void ReportToTest(const char* message) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_captures > 0) {
            g_captured.emplace_back(message);
            return;
        }
    }
    ADD_FAILURE() << "verifier: " << message;
}

} // namespace

void VerifiedTest::SetUp() {
    poolMark_ = sim::pool::Mark();
    objectMark_ = sim::objects::Mark();
}

void VerifiedTest::TearDown() {
    const std::string context =
        std::string("test ") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    sim::objects::ReportLeaksSince(objectMark_, context.c_str());
    sim::pool::ReportLeaksSince(poolMark_, context.c_str());
}

VerifierCapture::VerifierCapture() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_captures++ == 0) {
        g_captured.clear();
    }
}

VerifierCapture::~VerifierCapture() {
    std::lock_guard<std::mutex> lock(g_mutex);
    --g_captures;
}

std::vector<std::string> VerifierCapture::Messages() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_captured;
}

bool VerifierCapture::Saw(const std::string& text) const {
    for (const std::string& message : Messages()) {
        if (message.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

size_t VerifierCapture::Count() const {
    return Messages().size();
}

} // namespace sim::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    sim::SetVerifierHandler(&sim::testing::ReportToTest);
    return RUN_ALL_TESTS();
}
