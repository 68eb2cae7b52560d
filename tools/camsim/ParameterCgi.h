// The devices' parameter CGI: a query of entries joined by "&", each a name
// to read ("getformat", "getjpegxsize=1" with a channel after "=",
// "paratest=maxmaskarea") or a name=value to write ("motionenable=1",
// "motionblock=2:FFF"), answered with one reply line per entry, in order:
//
//     STATUS SP name=value CR LF
//
// STATUS is OK (done), NG (refused: bad value, full store), NS (no such
// parameter), UW (not writable) or UA (not authorised: only through the reply
// fault). A read answers with the name as asked without its index
// ("getjpegxsize=1" -> "OK getjpegxsize=640"); a "paratest=" read answers with
// the parameter's own name ("OK maxmaskarea=4"), so that several of them in
// one request still line up by position. A write answers with the name and
// the value as stored.
//
// Like the devices, the CGI takes at most kMaxEntries entries and
// kMaxRequestChars characters of path and query per request: later entries get
// no line, and a longer request gets no line at all.
//
// Threads: any connection thread; the state and faults lock themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

class DeviceState;
class DeviceFaults;

struct ReplyLine {
    std::string status; // "OK", "NG", ...
    std::string name;
    std::string value;
};

class ParameterCgi {
public:
    static constexpr size_t kMaxRequestChars = 200;
    static constexpr size_t kMaxEntries = 8;
    // Channels and profiles named in keys above this are answered NG.
    static constexpr uint32_t kMaxIndex = 99;

    ParameterCgi(DeviceState& state, const DeviceFaults& faults) : mState(state), mFaults(faults) {}

    // Whether the request (path, "?" and query) is within the CGI's length.
    static bool Fits(const std::string& path, const std::string& query) {
        return path.size() + 1 + query.size() <= kMaxRequestChars;
    }

    // The reply lines for a "/vb.htm?", "/api.htm?" or getparam query.
    std::vector<ReplyLine> Answer(const std::string& query);
    // The reply lines for "/ipcam/multiprofile.cgi?nowprofileid=P&KEY...":
    // "streamvalid", "getformat" (0 JPEG, 1 MPEG-4, 2 H.264), "getxsize",
    // "getysize" of profile P; "name=value" writes that profile's value.
    std::vector<ReplyLine> AnswerProfile(const std::string& query);

    // Splits a query at "&", empty entries dropped, at most kMaxEntries.
    static std::vector<std::string> Entries(const std::string& query);

private:
    ReplyLine Read(const std::string& name, bool indexed, const std::string& index);
    ReplyLine Write(const std::string& name, const std::string& value);
    ReplyLine Override(ReplyLine line, const std::string& key) const;

    DeviceState& mState;
    const DeviceFaults& mFaults;
};

} // namespace camsim
