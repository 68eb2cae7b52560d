#include "ParameterCgi.h"

#include "Decimal.h"
#include "Device.h"
#include "DeviceFaults.h"

#include <cstdio>
#include <set>

namespace camsim {

namespace {

// The PTZ control's command key.
const char kPtzKey[] = "qk310output";

// Parameters a client can read but not write: the model's facts and the
// editors' limits.
const std::set<std::string> kReadOnly = {
    "machinecode",  "supportavc",       "supportmotion",  "supportmaskarea", "maxmaskarea",
    "motionxlimit", "motionylimit",     "maskareaxlimit", "maskareaylimit",  "motionxblock",
    "motionyblock", "maskarealist.all", "resolution",
};

bool Decimal(const std::string& text, size_t maxDigits = 9) {
    if (text.empty() || text.size() > maxDigits)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool HexDigits(const std::string& text) {
    for (char c : text)
        if (HexDigitValue(c) < 0)
            return false;
    return true;
}

uint32_t ToNumber(const std::string& text) {
    uint32_t v = 0;
    for (char c : text)
        v = v * 10 + static_cast<uint32_t>(c - '0');
    return v;
}

ReplyLine Line(const char* status, const std::string& name, const std::string& value) {
    return ReplyLine{status, name, value};
}

// A read with its index after "=": "getjpegxsize=1", "paratest=maxmaskarea",
// "motionblock=2" (a write of the grid carries "N:" and the digits).
bool IsIndexedRead(const std::string& name, const std::string& rest) {
    if (name.compare(0, 3, "get") == 0 || name == "paratest")
        return true;
    return name == "motionblock" && Decimal(rest, 2);
}

} // namespace

std::vector<std::string> ParameterCgi::Entries(const std::string& query) {
    std::vector<std::string> entries;
    size_t start = 0;
    while (start <= query.size() && entries.size() < kMaxEntries) {
        size_t amp = query.find('&', start);
        if (amp == std::string::npos)
            amp = query.size();
        if (amp > start)
            entries.push_back(query.substr(start, amp - start));
        start = amp + 1;
    }
    return entries;
}

ReplyLine ParameterCgi::Override(ReplyLine line, const std::string& key) const {
    const std::string word = mFaults.StatusFor(key);
    if (!word.empty())
        line.status = word;
    return line;
}

std::vector<ReplyLine> ParameterCgi::Answer(const std::string& query) {
    std::vector<ReplyLine> lines;
    for (const std::string& entry : Entries(query)) {
        const size_t eq = entry.find('=');
        const std::string name = entry.substr(0, eq);
        const std::string rest = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
        if (name.empty()) {
            lines.push_back(Override(Line("NS", "", rest), ""));
            continue;
        }
        // A refused key is refused before anything is read or stored.
        const std::string word = mFaults.StatusFor(name);
        const bool read = eq == std::string::npos || IsIndexedRead(name, rest);
        ReplyLine line;
        if (!word.empty() && word != "OK") {
            line = read ? Read(name, eq != std::string::npos, rest) : Line("OK", name, rest);
            // Every PTZ command that arrives is logged, taken or not.
            if (!read && name == kPtzKey)
                mState.Ptz().LogUnanswered(rest, word, PtzHead::Clock::now());
        } else
            line = read ? Read(name, eq != std::string::npos, rest) : Write(name, rest);
        lines.push_back(Override(line, name));
    }
    return lines;
}

ReplyLine ParameterCgi::Read(const std::string& name, bool indexed, const std::string& index) {
    std::string value;
    if (name == "paratest") {
        if (!indexed || index.empty())
            return Line("NS", name, "");
        if (mState.Get(index, &value))
            return Line("OK", index, value);
        return Line("NS", index, "");
    }
    const std::string base = name.compare(0, 3, "get") == 0 ? name.substr(3) : name;
    std::string any;
    const bool perChannel = mState.Get(base + ".1", &any);
    if (!indexed) {
        if (mState.Get(base, &value) || (perChannel && mState.Get(base + ".1", &value)))
            return Line("OK", name, value);
        return Line("NS", name, "");
    }
    if (mState.Get(base + "." + index, &value))
        return Line("OK", name, value);
    if (perChannel) {
        // Channel keys: the channel before any ":" (playback keys carry the
        // recording after it). Channel 0 and channels the model lacks are
        // refused.
        const std::string channel = index.substr(0, index.find(':'));
        if (!Decimal(channel, 2) || ToNumber(channel) > kMaxIndex)
            return Line("NG", name, "");
        if (ToNumber(channel) == 0 && mState.Get(base, &value))
            return Line("OK", name, value);
        if (mState.Get(base + "." + std::to_string(ToNumber(channel)), &value))
            return Line("OK", name, value);
        return Line("NG", name, "");
    }
    if (mState.Get(base, &value))
        return Line("OK", name, value);
    return Line("NS", name, "");
}

ReplyLine ParameterCgi::Write(const std::string& name, const std::string& value) {
    if (kReadOnly.count(name) != 0)
        return Line("UW", name, value);
    const DeviceConfig& config = mState.Config();
    if (name == kPtzKey) {
        const auto now = PtzHead::Clock::now();
        if (!mState.HasPtz()) {
            mState.Ptz().LogUnanswered(value, "NS", now);
            return Line("NS", name, value);
        }
        return Line(mState.Ptz().Command(value, now) ? "OK" : "NG", name, value);
    }
    if (name == "motionblock") {
        // "N:DIGITS" for channel N, or the digits alone for channel 0: four
        // cells per hexadecimal digit, row by row.
        std::string digits = value;
        uint32_t channel = 0;
        const size_t colon = value.find(':');
        if (colon != std::string::npos) {
            const std::string number = value.substr(0, colon);
            if (!Decimal(number, 2))
                return Line("NG", name, value);
            channel = ToNumber(number);
            digits = value.substr(colon + 1);
        }
        std::string columns;
        std::string rows;
        mState.Get("motionxblock", &columns);
        mState.Get("motionyblock", &rows);
        const size_t cells = static_cast<size_t>(ToNumber(columns)) * ToNumber(rows);
        if (channel > config.maxChannel || !HexDigits(digits) || digits.size() > cells / 4)
            return Line("NG", name, value);
        const std::string key = channel == 0 ? "motionblock" : "motionblock." + std::to_string(channel);
        return Line(mState.Set(key, digits) ? "OK" : "NG", name, value);
    }
    if (name == "motionxy") {
        // x1 y1 x2 y2, three decimal digits each, inside the motion grid.
        if (value.size() != 12 || !Decimal(value, 12))
            return Line("NG", name, value);
        uint32_t c[4];
        for (int i = 0; i < 4; ++i)
            c[i] = ToNumber(value.substr(static_cast<size_t>(3 * i), 3));
        std::string xl;
        std::string yl;
        mState.Get("motionxlimit", &xl);
        mState.Get("motionylimit", &yl);
        if (c[0] > c[2] || c[1] > c[3] || c[2] >= ToNumber(xl) || c[3] >= ToNumber(yl))
            return Line("NG", name, value);
        mState.Set("motionx1", std::to_string(c[0]));
        mState.Set("motiony1", std::to_string(c[1]));
        mState.Set("motionx2", std::to_string(c[2]));
        mState.Set("motiony2", std::to_string(c[3]));
        mState.Set("motionxy", value);
        return Line("OK", name, value);
    }
    if (name == "maskarea") {
        // One item of the mask list: enable digit, two-digit index, then
        // x1 y1 x2 y2 as three hexadecimal digits each.
        std::string count;
        std::string list;
        mState.Get("maxmaskarea", &count);
        mState.Get("maskarealist.all", &list);
        if (value.size() != 15 || (value[0] != '0' && value[0] != '1') || !Decimal(value.substr(1, 2), 2) ||
            !HexDigits(value.substr(3)) || ToNumber(value.substr(1, 2)) >= ToNumber(count))
            return Line("NG", name, value);
        // The rectangle must lie in the mask grid, corners in order, as the
        // motion area's must.
        std::string xl;
        std::string yl;
        mState.Get("maskareaxlimit", &xl);
        mState.Get("maskareaylimit", &yl);
        uint64_t c[4] = {};
        for (int i = 0; i < 4; ++i)
            ParseHex(value.substr(static_cast<size_t>(3 + 3 * i), 3), 0xFFF, &c[i]);
        if (c[0] > c[2] || c[1] > c[3] || c[2] >= ToNumber(xl) || c[3] >= ToNumber(yl))
            return Line("NG", name, value);
        const uint32_t index = ToNumber(value.substr(1, 2));
        std::string rebuilt;
        bool replaced = false;
        size_t start = 0;
        while (start < list.size()) {
            size_t semi = list.find(';', start);
            if (semi == std::string::npos)
                semi = list.size();
            std::string item = list.substr(start, semi - start);
            if (item.size() == 15 && Decimal(item.substr(1, 2), 2) && ToNumber(item.substr(1, 2)) == index) {
                item = value;
                replaced = true;
            }
            if (!item.empty())
                rebuilt += item + ";";
            start = semi + 1;
        }
        if (!replaced)
            rebuilt += value + ";";
        return Line(mState.Set("maskarealist.all", rebuilt) ? "OK" : "NG", name, value);
    }
    std::string current;
    if (!mState.Get(name, &current))
        return Line("NS", name, value);
    // A number stays a number: "videomode=pal" is refused.
    if (Decimal(current) && !Decimal(value))
        return Line("NG", name, value);
    return Line(mState.Set(name, value) ? "OK" : "NG", name, value);
}

std::vector<ReplyLine> ParameterCgi::AnswerProfile(const std::string& query) {
    std::vector<ReplyLine> lines;
    std::string profile = "0";
    for (const std::string& entry : Entries(query)) {
        const size_t eq = entry.find('=');
        const std::string name = entry.substr(0, eq);
        const std::string rest = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
        if (name == "nowprofileid") {
            // Selects the profile for the entries after it; no line of its own.
            profile = Decimal(rest, 2) ? std::to_string(ToNumber(rest)) : "-";
            continue;
        }
        const std::string base = name.compare(0, 3, "get") == 0 ? name.substr(3) : name;
        const std::string key = "profile." + profile + "." + base;
        std::string value;
        ReplyLine line;
        const std::string word = mFaults.StatusFor(name);
        std::string known;
        const bool profileExists = mState.Get("profile." + profile + ".streamvalid", &known);
        if (eq == std::string::npos || name.compare(0, 3, "get") == 0) {
            if (mState.Get(key, &value))
                line = Line("OK", name, value);
            else if (base == "streamvalid")
                line = Line("OK", name, "0"); // a profile the camera lacks cannot stream
            else
                line = Line(profileExists ? "NS" : "NG", name, "");
        } else if (!word.empty() && word != "OK") {
            line = Line("OK", name, rest);
        } else if (!mState.Get(key, &value)) {
            line = Line(profileExists ? "NS" : "NG", name, rest);
        } else if (!Decimal(rest)) {
            line = Line("NG", name, rest);
        } else {
            line = Line(mState.Set(key, std::to_string(ToNumber(rest))) ? "OK" : "NG", name, rest);
        }
        lines.push_back(Override(line, name));
    }
    return lines;
}

} // namespace camsim
