#include "platform/Trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using media_util::SetTraceSink;
using media_util::Trace;

namespace {

void Collect(const char* text, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(text);
}

} // namespace

TEST(TraceTest, SinkGetsFormattedTextsAndNothingWithoutOne) {
    std::vector<std::string> seen;
    Trace("before any sink %d\n", 1);
    EXPECT_EQ(nullptr, SetTraceSink(&Collect, &seen));
    Trace("CDispatchWorker::AddQueue Enque VOL ch:%d\n", 3);
    Trace("FAILED(hr=0x%x) in %s", 0x80004005u, "pGraph->Connect");
    EXPECT_EQ(&Collect, SetTraceSink(nullptr, nullptr));
    Trace("after %s\n", "removal");
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("CDispatchWorker::AddQueue Enque VOL ch:3\n", seen[0]);
    EXPECT_EQ("FAILED(hr=0x80004005) in pGraph->Connect", seen[1]);
}

TEST(TraceTest, LongTextIsCutNotOverrun) {
    std::vector<std::string> seen;
    SetTraceSink(&Collect, &seen);
    std::string longText(5000, 'x');
    Trace("%s", longText.c_str());
    SetTraceSink(nullptr, nullptr);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(size_t(media_util::kTraceBufferSize - 1), seen[0].size());
}
