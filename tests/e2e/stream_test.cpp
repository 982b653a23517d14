#include <cstring>

#include "oculix_zyn_properties.h"
#include "tests/e2e/stream_fixture.h"

namespace zyn::e2e {
namespace {

bool SamePicture(const sim::host::Frame& frame, const std::vector<uint8_t>& expected) {
    return frame.header().DataUsed >= expected.size() &&
           std::memcmp(frame.data(), expected.data(), expected.size()) == 0;
}

TEST_F(StreamTest, DeliversThePipelinesConversionOfTheRawFrames) {
    Open();
    Run();
    const std::vector<uint8_t> expected = ExpectedFrame(false, false);
    for (int i = 0; i < 3; ++i) {
        std::unique_ptr<sim::host::Frame> frame = Next();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->status(), STATUS_SUCCESS);
        EXPECT_EQ(frame->header().DataUsed, 1360u * 1024 * 4);
        EXPECT_TRUE(SamePicture(*frame, expected)) << "frame " << i;
        ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
    }
}

} // namespace
} // namespace zyn::e2e
