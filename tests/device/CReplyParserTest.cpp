#include "device/CReplyParser.h"

#include "device/FakeDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

using media_util::CSlowHash;

namespace {

constexpr const char* kKept = "<kept>";

TEST(CReplyParserTest, ReplyLineGivesStatusNameAndValue) {
    struct SCase {
        const char* line;
        int code;
        const char* name; // kKept: left as it was
        const char* value;
    };
    const SCase cases[] = {
        {"OK getmachinecode=1412", 200, "getmachinecode", "1412"},
        {"NG setfoo=3", 205, "setfoo", "3"},
        {"NS getavcxsize=0", 210, "getavcxsize", "0"},
        {"UW motion=1", 215, "motion", "1"},
        {"UA mask=0", 220, "mask", "0"},
        // The word is compared whole and case-sensitively; the pair is still split.
        {"ok getformat=1", 300, "getformat", "1"},
        {"OKAY getformat=1", 300, "getformat", "1"},
        // Without "=" the value is the status word.
        {"NG getfoo", 205, kKept, "NG"},
        // Fewer than two pieces: nothing is touched.
        {"OK\tgetfoo=1", 300, kKept, kKept},
        // Cut at the first "=", the value at the next blank; both trimmed.
        {"OK title=front door", 200, "title", "front"},
        {"OK a=b=c", 200, "a", "b=c"},
        {"OK a=\t7\r", 200, "a", "7"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.line);
        std::string name = kKept;
        std::string value = kKept;
        EXPECT_EQ(ParseReplyLine(c.line, name, value), c.code);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(value, c.value);
    }
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    for (size_t start = 0, end = 0; !text.empty() && start <= text.size(); start = end + 1) {
        end = std::min(text.find(separator, start), text.size());
        pieces.push_back(text.substr(start, end - start));
    }
    return pieces;
}

TEST(CReplyParserTest, RequestsAreSplitByLengthAndEntryCount) {
    struct SCase {
        bool update;
        std::string entries; // "&"-separated; an update's key and value separated by "|"
        int result;
        std::vector<std::string> requests;
    };
    // The 200-character limit counts keys and values, not the "&" and "="
    // that join them.
    const std::string x192(192, 'x'), z191(191, 'z'), z190(190, 'z'), y193(193, 'y'), v191(191, 'v'),
        w192(192, 'w');
    const SCase cases[] = {
        {false, "k1&k2&k3&k4&k5&k6&k7&k8&k9", 1, {"/vb.htm?k1&k2&k3&k4&k5&k6&k7&k8", "/vb.htm?k9"}},
        {false, x192, 1, {"/vb.htm?" + x192}},
        {false, z191 + "&q", 1, {"/vb.htm?" + z191 + "&q"}},
        // Entries are added only while the whole text is under the limit.
        {false, z190 + "&q&r", 1, {"/vb.htm?" + z190 + "&q", "/vb.htm?r"}},
        {false, z191 + "&qr", 1, {"/vb.htm?" + z191, "/vb.htm?qr"}},
        // A key that fits no request ends the call.
        {false, "a&" + y193 + "&c", 0, {"/vb.htm?a"}},
        {false, "", 1, {}},
        // No second "=" after a key that holds one.
        {true, "a|1&b=2|&motion=1|5&reset|", 1, {"/vb.htm?a=1&b=2&motion=15&reset="}},
        {true, "a|" + v191, 1, {"/vb.htm?a=" + v191}},
        // The longest a request gets: the separators of the last entry on top of the limit.
        {true, "k|" + v191.substr(2) + "&b|", 1, {"/vb.htm?k=" + v191.substr(2) + "&b="}},
        {true, "a|" + w192, 0, {}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.entries);
        SDeviceRig rig;
        CReplyParser parser(&rig.link, &rig.url, "/vb.htm?");
        CSlowHash params;
        const std::vector<std::string> entries = Split(c.entries, '&');
        for (const std::string& entry : entries)
            params.Add(entry.substr(0, entry.find('|')), c.update ? entry.substr(entry.find('|') + 1) : "");
        EXPECT_EQ(c.update ? parser.Update(params) : parser.Query(params), c.result);
        EXPECT_EQ(rig.script.requests, c.requests);
        for (const std::string& request : rig.script.requests)
            EXPECT_LE(request.size(), CReplyParser::kMaxRequestText);
    }
}

TEST(CReplyParserTest, ReplyLinesAreFiledBackIntoTheEntries) {
    struct SCase {
        bool update;
        const char* keys;                // "|"-separated
        std::vector<std::string> bodies; // one per request; further requests are refused
        int result;
        const char* values; // afterwards, "|"-separated; "-" for a value left as it was
    };
    const char* const nine = "k1|k2|k3|k4|k5|k6|k7|k8|k9";
    const SCase cases[] = {
        // By name in any order, by a key carrying an index, else by position;
        // lines without a status word are skipped, lines beyond the keys ignored.
        {false, "fmt|mode", {"OK mode=0 \r\nNG fmt=2\r\n"}, 1, "NG fmt=2|OK mode=0"},
        {false, "ys=1|xs=1", {"OK xs=640\nOK ys=480"}, 1, "OK ys=480|OK xs=640"},
        {false, "a|b|c", {"garbage\r\nOK x=1\n\r\nok c=1\nOK b=2\nNS z\nOK q=1\n"}, 1, "OK x=1|OK b=2|NS z"},
        // Positions count across requests; an empty body changes nothing; a
        // failed request ends the call and earlier lines stay.
        {false, nine, {"OK x=1\nOK y=2\n", "OK z=3\n"}, 1, "OK x=1|OK y=2|OK z=3|-|-|-|-|-|-"},
        {false, nine, {"", "OK k9=9\n"}, 1, "-|-|-|-|-|-|-|-|OK k9=9"},
        {false, nine, {"OK k8=8\n"}, 0, "-|-|-|-|-|-|-|OK k8=8|-"},
        // An update files every line in order, whatever it says.
        {true, "a|b|c|d", {"OK b=2\r\n\r\njunk\r\n"}, 1, "OK b=2||junk|-"},
        {true, nine, {"L1\nL2\n", "L3\nL4\nL5\nL6\nL7\nL8\nL9\nL10\n"}, 1, "L1|L2|L3|L4|L5|L6|L7|L8|L9"},
    };
    for (size_t piece : {size_t(1), size_t(3), size_t(8192)}) {
        for (const SCase& c : cases) {
            SCOPED_TRACE(std::string(c.values) + ", read pieces of " + std::to_string(piece));
            SDeviceRig rig(piece);
            rig.Answer({});
            for (const std::string& body : c.bodies)
                rig.script.answers.push_back(Ok(body));
            CReplyParser parser(&rig.link, &rig.url, "/vb.htm?");
            CSlowHash params;
            const std::vector<std::string> keys = Split(c.keys, '|');
            for (const std::string& key : keys)
                params.Add(key, "-");
            EXPECT_EQ(c.update ? parser.Update(params) : parser.Query(params), c.result);
            std::string values;
            for (size_t i = 0; i < params.GetCount(); ++i)
                values += (i ? "|" : "") + params.GetValueAt(i);
            EXPECT_EQ(values, c.values);
            EXPECT_EQ(params.GetCount(), keys.size());
        }
    }
}

TEST(CReplyParserTest, UnansweredAndHugeBodies) {
    // A megabyte of junk and repeated lines before the line that counts,
    // then a megabyte without any line end.
    std::string huge;
    while (huge.size() < (1u << 20))
        huge += "garbage garbage\r\nOK other=1\r\n\n";
    huge += "OK getformat=1\r\n" + std::string(1u << 20, 'z');
    // Linked or not, the answer, the result and the value afterwards.
    const std::tuple<bool, SAnswer, int, const char*> cases[] = {
        {false, Ok("OK getformat=1"), 0, ""},
        {true, Refused(), 0, ""},
        {true, Ok(huge), 1, "OK getformat=1"},
    };
    for (const auto& [linked, answer, result, value] : cases) {
        SCOPED_TRACE(answer.body.substr(0, 40));
        SDeviceRig rig;
        rig.Answer({answer});
        CReplyParser parser(linked ? &rig.link : nullptr, &rig.url, "/vb.htm?");
        std::string out = kKept;
        EXPECT_EQ(parser.QueryOne("getformat", out), result);
        EXPECT_EQ(out, value);
    }
}

} // namespace
