#include "device/CReplyParser.h"

#include "device/FakeHttpClient.h"
#include "net/CUrl.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using media_util::CSlowHash;

namespace {

constexpr const char* kKept = "<kept>";

struct SLineCase {
    const char* line;
    int code;
    const char* name;  // kKept: left as it was
    const char* value; // kKept: left as it was
};

TEST(CReplyParserTest, ReplyLinesSplitIntoStatusNameAndValue) {
    const SLineCase cases[] = {
        {"OK getmachinecode=1412", 200, "getmachinecode", "1412"},
        {"NG setfoo=3", 205, "setfoo", "3"},
        {"NS getavcxsize=0", 210, "getavcxsize", "0"},
        {"UW motion=1", 215, "motion", "1"},
        {"UA mask=0", 220, "mask", "0"},
        // The status word is compared whole and case-sensitively, but the
        // pair is still taken apart.
        {"ok getformat=1", 300, "getformat", "1"},
        {"OKAY getformat=1", 300, "getformat", "1"},
        {"O getformat=1", 300, "getformat", "1"},
        // A name without "=": the name stays, the value is the status word.
        {"OK getfoo", 200, kKept, "OK"},
        {"NG getfoo", 205, kKept, "NG"},
        // Fewer than two pieces: nothing is touched.
        {"OK", 300, kKept, kKept},
        {"", 300, kKept, kKept},
        {"OK\tgetfoo=1", 300, kKept, kKept},
        // A value is cut at the next blank; later pieces are ignored.
        {"OK title=front door", 200, "title", "front"},
        {"OK a=b=c", 200, "a", "b=c"},
        {"OK =5", 200, "", "5"},
        {"OK a=", 200, "a", ""},
        // An empty first piece is an unknown word and becomes the value.
        {" OK a=1", 300, kKept, ""},
        // Two blanks: the second piece is empty.
        {"OK  a=1", 200, kKept, "OK"},
        // Name and value are trimmed of tabs and CR.
        {"OK a=\t7\r", 200, "a", "7"},
    };
    for (const SLineCase& c : cases) {
        SCOPED_TRACE(std::string("line \"") + c.line + "\"");
        std::string name = kKept;
        std::string value = kKept;
        EXPECT_EQ(ParseReplyLine(c.line, name, value), c.code);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(value, c.value);
    }
}

TEST(CReplyParserTest, ReplyLineWithEmbeddedNulIsNotCutThere) {
    std::string name;
    std::string value;
    const std::string line("OK a=1\0 2", 9);
    EXPECT_EQ(ParseReplyLine(line, name, value), 200);
    EXPECT_EQ(name, "a");
    EXPECT_EQ(value, std::string("1\0", 2));
}

// A parser on a fake client for the device at 127.0.0.1:8081.
struct SParserRig {
    CFakeHttpClient client;
    CHttpLink link{&client};
    CUrl deviceUrl;
    CReplyParser parser;

    explicit SParserRig(const std::string& cgiPath = "/vb.htm?") {
        EXPECT_NE(deviceUrl.Crack("http://127.0.0.1:8081/index.html"), 0);
        parser.SetLink(&link);
        parser.SetDeviceUrl(&deviceUrl);
        parser.SetCgiPath(cgiPath);
    }
};

CSlowHash Keys(const std::vector<std::string>& keys) {
    CSlowHash params;
    for (const std::string& key : keys)
        params.Add(key, "");
    return params;
}

std::vector<std::string> KeysOf(const CSlowHash& params) {
    std::vector<std::string> keys;
    for (size_t i = 0; i < params.GetCount(); ++i)
        keys.push_back(params.GetKeyAt(i));
    return keys;
}

TEST(CReplyParserTest, TwentyKeysGoOutInRequestsOfEightEightAndFour) {
    SParserRig rig;
    std::vector<std::string> keys;
    for (int i = 0; i < 20; ++i)
        keys.push_back(std::string("param") + static_cast<char>('A' + i) + "wxyz");
    CSlowHash params = Keys(keys);
    ASSERT_EQ(params.GetKeyAt(0).size(), 10u);
    rig.client.mHandler = [](const std::string&) { return CFakeHttpClient::Ok(""); };

    EXPECT_EQ(rig.parser.Query(params), 1);

    const std::vector<std::string> expected = {
        "/vb.htm?paramAwxyz&paramBwxyz&paramCwxyz&paramDwxyz&paramEwxyz&paramFwxyz&paramGwxyz&paramHwxyz",
        "/vb.htm?paramIwxyz&paramJwxyz&paramKwxyz&paramLwxyz&paramMwxyz&paramNwxyz&paramOwxyz&paramPwxyz",
        "/vb.htm?paramQwxyz&paramRwxyz&paramSwxyz&paramTwxyz",
    };
    EXPECT_EQ(rig.client.mRequests, expected);
    // Every request went to the device's host and port.
    EXPECT_EQ(rig.client.mHosts, std::vector<std::string>(3, "127.0.0.1"));
    EXPECT_EQ(rig.client.mPorts, std::vector<uint16_t>(3, 8081));
}

struct SLimitCase {
    const char* name;
    std::vector<std::string> keys;
    int result;
    std::vector<size_t> keysPerRequest; // how many keys each request carried
};

TEST(CReplyParserTest, RequestsStayWithinTwoHundredCharacters) {
    // "/vb.htm?" is 8 characters. Keys of 47: 8+47, then 48 per further key:
    // 55, 103, 151, 199; a fifth would make 247.
    const std::string k47(47, 'k');
    const std::string k192(192, 'x'); // 8 + 192 = 200: fits exactly
    const std::string k193(193, 'y'); // 201: never fits
    const std::string k191(191, 'z'); // 8 + 191 = 199; "&" + 1 more = 201
    const SLimitCase cases[] = {
        {"47-character keys, four per request", std::vector<std::string>(9, k47), 1, {4, 4, 1}},
        {"a key that fills the request exactly", {k192}, 1, {1}},
        {"a key one character too long", {k193}, 0, {}},
        {"a too-long key after fitting ones", {"a", "b", k193, "c"}, 0, {2}},
        {"one-character key does not fit behind 199", {k191, "q"}, 1, {1, 1}},
        {"no keys, no request", {}, 1, {}},
    };
    for (const SLimitCase& c : cases) {
        SCOPED_TRACE(c.name);
        SParserRig rig;
        rig.client.mHandler = [](const std::string&) { return CFakeHttpClient::Ok(""); };
        std::vector<std::string> keys = c.keys;
        // Distinct keys: the dictionary folds equal ones.
        for (size_t i = 0; i < keys.size(); ++i) {
            if (keys[i].size() == 47)
                keys[i][0] = static_cast<char>('A' + i);
        }
        CSlowHash params = Keys(keys);
        EXPECT_EQ(rig.parser.Query(params), c.result);
        ASSERT_EQ(rig.client.mRequests.size(), c.keysPerRequest.size());
        size_t next = 0;
        for (size_t r = 0; r < c.keysPerRequest.size(); ++r) {
            std::string expected = "/vb.htm?";
            for (size_t k = 0; k < c.keysPerRequest[r]; ++k)
                expected += (k ? "&" : "") + keys[next++];
            EXPECT_EQ(rig.client.mRequests[r], expected);
            EXPECT_LE(rig.client.mRequests[r].size(), CReplyParser::kMaxRequestLength);
        }
        EXPECT_EQ(KeysOf(params), keys);
    }
}

struct SUpdateRequestCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> entries;
    int result;
    std::vector<std::string> requests;
};

TEST(CReplyParserTest, UpdateRequestsCarryNameValuePairs) {
    const std::string v190(190, 'v'); // "/vb.htm?" + "a" + "=" + 190 = 200
    const std::string v191(191, 'w');
    const SUpdateRequestCase cases[] = {
        {"no second = after a key that holds one", {{"a", "1"}, {"b=2", ""}}, 1, {"/vb.htm?a=1&b=2"}},
        {"indexed key keeps its own =", {{"motion=1", "5"}}, 1, {"/vb.htm?motion=15"}},
        {"empty value still gets =", {{"reset", ""}}, 1, {"/vb.htm?reset="}},
        {"name, = and value count against the limit", {{"a", v190}}, 1, {"/vb.htm?a=" + v190}},
        {"one character over the limit", {{"a", v191}}, 0, {}},
        {"nine pairs: eight, then one",
         {{"p1", "1"},
          {"p2", "2"},
          {"p3", "3"},
          {"p4", "4"},
          {"p5", "5"},
          {"p6", "6"},
          {"p7", "7"},
          {"p8", "8"},
          {"p9", "9"}},
         1,
         {"/vb.htm?p1=1&p2=2&p3=3&p4=4&p5=5&p6=6&p7=7&p8=8", "/vb.htm?p9=9"}},
        {"a long value moves the pair to the next request",
         {{"a", "1"}, {"b", v190}},
         1,
         {"/vb.htm?a=1", "/vb.htm?b=" + v190}},
    };
    for (const SUpdateRequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        SParserRig rig;
        rig.client.mHandler = [](const std::string&) { return CFakeHttpClient::Ok(""); };
        CSlowHash params;
        for (const auto& entry : c.entries)
            params.Add(entry.first, entry.second);
        EXPECT_EQ(rig.parser.Update(params), c.result);
        EXPECT_EQ(rig.client.mRequests, c.requests);
    }
}

struct SFilingCase {
    const char* name;
    std::vector<std::string> keys;
    std::vector<std::string> bodies; // one per request, in order
    int result;
    std::vector<std::string> values; // afterwards, per key
};

const char* const kUntouched = "untouched";

TEST(CReplyParserTest, QueryFilesLinesByNameByIndexedNameOrByPosition) {
    const std::vector<std::string> nine = {"k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "k9"};
    const SFilingCase cases[] = {
        {"the whole trimmed line becomes the value",
         {"getmachinecode"},
         {"OK getmachinecode=1412\r\n"},
         1,
         {"OK getmachinecode=1412"}},
        {"lines in another order are filed by name",
         {"getformat", "videomode", "getaudioenable"},
         {"OK getaudioenable=1\r\nOK videomode=0\r\nNG getformat=2\r\n"},
         1,
         {"NG getformat=2", "OK videomode=0", "OK getaudioenable=1"}},
        {"a line about a name finds the key that carries an index",
         {"getjpegysize=1", "getjpegxsize=1"},
         {"OK getjpegxsize=640\r\nOK getjpegysize=480\r\n"},
         1,
         {"OK getjpegysize=480", "OK getjpegxsize=640"}},
        {"lines without a known name go by position",
         {"a", "b", "c"},
         {"OK x=1\nOK b=2\nNS\nNS z\n"},
         1,
         {"OK x=1", "OK b=2", "NS z"}},
        {"lines without a status word are skipped",
         {"a", "b"},
         {"garbage\r\nHTTP/1.1 200 OK\r\n\r\n   \r\nok a=1\r\nOK b=2"},
         1,
         {kUntouched, "OK b=2"}},
        {"more lines than keys change only the keys there are",
         {"a"},
         {"OK q=1\nOK r=2\nOK s=3\nOK t=4\n"},
         1,
         {"OK q=1"}},
        {"an empty body leaves the batch's values and goes on",
         nine,
         {"", "OK k9=9\r\n"},
         1,
         {kUntouched, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched,
          "OK k9=9"}},
        {"positions count across requests",
         nine,
         {"OK x=1\nOK y=2\n", "OK z=3\n"},
         1,
         {"OK x=1", "OK y=2", "OK z=3", kUntouched, kUntouched, kUntouched, kUntouched, kUntouched,
          kUntouched}},
        {"a failed request ends the call; earlier lines stay filed",
         nine,
         {"OK k1=1\nOK k8=8\n"},
         0,
         {"OK k1=1", kUntouched, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched, "OK k8=8",
          kUntouched}},
        {"the first request failing touches nothing", {"a", "b"}, {}, 0, {kUntouched, kUntouched}},
        {"a line of blanks and CR only is skipped", {"a"}, {"\r\n \t\r\n\r\n"}, 1, {kUntouched}},
    };
    // Fixed piece sizes, then (piece 0) random cuts from a printed seed.
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    for (size_t piece : {size_t(1), size_t(3), size_t(8192), size_t(0)}) {
        for (const SFilingCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", read pieces of " + std::to_string(piece) + ", seed " +
                         std::to_string(seed));
            SParserRig rig;
            rig.client.mMaxPiece = piece;
            if (piece == 0)
                rig.client.mCut = [&random] { return std::uniform_int_distribution<size_t>(1, 16)(random); };
            for (const std::string& body : c.bodies)
                rig.client.mAnswers.push_back(CFakeHttpClient::Ok(body));
            CSlowHash params;
            for (const std::string& key : c.keys)
                params.Add(key, kUntouched);
            EXPECT_EQ(rig.parser.Query(params), c.result);
            EXPECT_EQ(KeysOf(params), c.keys);
            for (size_t i = 0; i < c.values.size(); ++i)
                EXPECT_EQ(params.GetValueAt(i), c.values[i]) << "key " << c.keys[i];
        }
    }
}

TEST(CReplyParserTest, UpdateFilesEveryLineInOrder) {
    const std::vector<std::string> nine = {"k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "k9"};
    const SFilingCase cases[] = {
        {"lines replace the values in order, whatever their names",
         {"a", "b"},
         {"OK b=2\r\nNG a=1\r\n"},
         1,
         {"OK b=2", "NG a=1"}},
        {"lines without a status word are filed too",
         {"a", "b"},
         {"junk\r\nUA b=2\r\n"},
         1,
         {"junk", "UA b=2"}},
        {"a blank CR line is a line", {"a", "b"}, {"\r\nOK b=2\r\n"}, 1, {"", "OK b=2"}},
        {"extra lines are ignored", {"a"}, {"OK a=1\nOK b=2\nOK c=3\n"}, 1, {"OK a=1"}},
        {"too few lines leave the rest", {"a", "b", "c"}, {"OK a=1\n"}, 1, {"OK a=1", "1", "1"}},
        {"positions count across requests",
         nine,
         {"L1\nL2\n", "L3\n"},
         1,
         {"L1", "L2", "L3", "1", "1", "1", "1", "1", "1"}},
    };
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    for (size_t piece : {size_t(1), size_t(8192), size_t(0)}) {
        for (const SFilingCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", read pieces of " + std::to_string(piece) + ", seed " +
                         std::to_string(seed));
            SParserRig rig;
            rig.client.mMaxPiece = piece;
            if (piece == 0)
                rig.client.mCut = [&random] { return std::uniform_int_distribution<size_t>(1, 16)(random); };
            for (const std::string& body : c.bodies)
                rig.client.mAnswers.push_back(CFakeHttpClient::Ok(body));
            CSlowHash params;
            for (const std::string& key : c.keys)
                params.Add(key, "1");
            EXPECT_EQ(rig.parser.Update(params), c.result);
            EXPECT_EQ(KeysOf(params), c.keys);
            for (size_t i = 0; i < c.values.size(); ++i)
                EXPECT_EQ(params.GetValueAt(i), c.values[i]) << "key " << c.keys[i];
        }
    }
}

TEST(CReplyParserTest, SingleKeyQueryAndUpdate) {
    SParserRig rig;
    rig.client.mAnswers = {CFakeHttpClient::Ok("OK getmachinecode=1412\r\n"),
                           CFakeHttpClient::Ok("UW title=x\r\n"), CFakeHttpClient::Ok(""),
                           CFakeHttpClient::Ok("")};
    std::string out = "old";
    EXPECT_EQ(rig.parser.QueryOne("getmachinecode", out), 1);
    EXPECT_EQ(out, "OK getmachinecode=1412");
    std::string name;
    std::string value;
    EXPECT_EQ(ParseReplyLine(out, name, value), 200);
    EXPECT_EQ(name, "getmachinecode");
    EXPECT_EQ(value, "1412");

    std::string title = "x";
    EXPECT_EQ(rig.parser.UpdateOne("title", title), 1);
    EXPECT_EQ(title, "UW title=x");

    // No line: the query's value is empty, the update's value stays.
    out = "old";
    EXPECT_EQ(rig.parser.QueryOne("getfoo", out), 1);
    EXPECT_EQ(out, "");
    std::string kept = "7";
    EXPECT_EQ(rig.parser.UpdateOne("setfoo", kept), 1);
    EXPECT_EQ(kept, "7");

    const std::vector<std::string> expected = {"/vb.htm?getmachinecode", "/vb.htm?title=x", "/vb.htm?getfoo",
                                               "/vb.htm?setfoo=7"};
    EXPECT_EQ(rig.client.mRequests, expected);
    // The request URL keeps the last request.
    EXPECT_EQ(rig.parser.GetRequestUrl().mRequestPath, "/vb.htm?setfoo=7");
}

TEST(CReplyParserTest, NoLinkOrNoAnswerFails) {
    CReplyParser unlinked;
    unlinked.SetCgiPath("/vb.htm?");
    std::string out = "old";
    EXPECT_EQ(unlinked.QueryOne("getmachinecode", out), 0);
    EXPECT_EQ(out, "");

    SParserRig refused;
    refused.client.mRefuseConnect = true;
    out = "old";
    EXPECT_EQ(refused.parser.QueryOne("getmachinecode", out), 0);
    EXPECT_EQ(out, "");

    // A device answering with an error status still answered: its body (no
    // reply lines) changes nothing.
    SParserRig denied;
    denied.client.mAnswers = {CFakeHttpClient::SAnswer{401, "<html>401 Unauthorized</html>", false}};
    out = "old";
    EXPECT_EQ(denied.parser.QueryOne("getmachinecode", out), 1);
    EXPECT_EQ(out, "");
}

TEST(CReplyParserTest, HugeBodyIsFiledWithoutTrouble) {
    // Four megabytes of junk and repeated lines around the one that counts.
    std::string body;
    body.reserve(4u << 20);
    while (body.size() < (2u << 20))
        body += "garbage garbage garbage\r\nOK other=1\r\n\n";
    body += "OK getformat=1\r\n";
    while (body.size() < (4u << 20))
        body += std::string(1000, 'z') + "\n";
    SParserRig rig;
    rig.client.mAnswers = {CFakeHttpClient::Ok(body)};
    CSlowHash params = Keys({"getformat", "videomode"});
    EXPECT_EQ(rig.parser.Query(params), 1);
    EXPECT_EQ(params.GetValueAt(0), "OK getformat=1");
    // The first "OK other=1" went to position 0 and was then overwritten by
    // name; the next went to position 1.
    EXPECT_EQ(params.GetValueAt(1), "OK other=1");

    // One line of a megabyte without any line end.
    SParserRig single;
    single.client.mAnswers = {CFakeHttpClient::Ok("OK a=" + std::string(1u << 20, '9'))};
    std::string out;
    EXPECT_EQ(single.parser.QueryOne("a", out), 1);
    EXPECT_EQ(out.size(), 5u + (1u << 20));
}

} // namespace
