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

TEST(TraceTest, SinkGetsFormattedTextsCutToTheBufferAndNothingWithoutOne) {
    std::vector<std::string> seen;
    Trace("before any sink %d\n", 1);
    EXPECT_EQ(nullptr, SetTraceSink(&Collect, &seen));
    Trace("CDispatchWorker::AddQueue Enque VOL ch:%d\n", 3);
    Trace("FAILED(hr=0x%x) in %s", 0x80004005u, "pGraph->Connect");
    Trace("%s", std::string(5000, 'x').c_str()); // cut, not overrun
    EXPECT_EQ(&Collect, SetTraceSink(nullptr, nullptr));
    Trace("after %s\n", "removal");
    const std::vector<std::string> expected = {"CDispatchWorker::AddQueue Enque VOL ch:3\n",
                                               "FAILED(hr=0x80004005) in pGraph->Connect",
                                               std::string(media_util::kTraceBufferSize - 1, 'x')};
    EXPECT_EQ(expected, seen);
}
