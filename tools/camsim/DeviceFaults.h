// Misbehaviours of the device's parameter CGIs: answers with another status
// word for chosen keys, and bodies that are empty, junk, huge, cut off or
// never sent. They apply to "/vb.htm?", "/api.htm?" (its parameter keys),
// "/ipcam/multiprofile.cgi?", "/getstate" and the other vendor's
// "/axis-cgi/admin/getparam.cgi?"; live media have their own switches.
//
// Set from the command line (--fault reply=NG:getformat, --fault body=junk)
// or at run time through "/camsim/device?reply=...&body=...".
//
// Threads: shared by every connection thread; all members lock internally.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace camsim {

enum class BodyFault {
    None,
    Empty,    // 200 with an empty body
    Junk,     // lines that are no reply lines (binary bytes, NULs, lower-case words, no blank)
    Huge,     // kHugeBodyBytes of lines that are no reply lines
    Drop,     // close the connection without any answer
    Silent,   // read the request and never answer (until the client gives up)
    Extra,    // the right lines, then lines for keys nobody asked for
    BareLf,   // the right lines ending in LF alone
    NoStatus, // the right lines without their status word ("getformat=1")
};

class DeviceFaults {
public:
    // Size of a "huge" body: far beyond any reply a device sends, small
    // enough for a test to read through loopback in well under a second.
    static constexpr size_t kHugeBodyBytes = 4 * 1024 * 1024;
    // Keys that can carry their own status word at once.
    static constexpr size_t kMaxReplyOverrides = 64;
    // A status word longer than this is refused (they are two letters).
    static constexpr size_t kMaxWordBytes = 16;
    // Key that stands for every key.
    static constexpr const char* kAnyKey = "*";

    // Whether `name` is one of this class's switches ("reply", "body").
    static bool Knows(const std::string& name);
    // "reply" with "WORD:KEY": answer KEY (as the request names it, without
    // an index after "=") with WORD instead of the right status; KEY "*" means
    // every key; an empty WORD clears KEY's override. "body" with a mode name
    // (see Help). "reset" clears everything. False for an unknown name or a
    // bad value.
    bool Apply(const std::string& name, const std::string& value);
    // "name=value".
    bool ApplyText(const std::string& text);
    void Reset();

    // The status word to answer `key` with instead of the right one, or "".
    std::string StatusFor(const std::string& key) const;
    BodyFault Body() const;
    std::string Describe() const;
    // One entry per switch: the switch in the first 19 columns, its meaning
    // after it, continuation lines blank there. --help indents the entries
    // under --fault.
    static const char* Help();
    static const char* BodyName(BodyFault fault);

private:
    mutable std::mutex mLock;
    std::map<std::string, std::string> mReplies; // key -> status word; guarded by mLock
    BodyFault mBody = BodyFault::None;           // guarded by mLock
};

} // namespace camsim
