#include "DeviceFaults.h"

namespace camsim {

namespace {

struct BodyEntry {
    const char* name;
    BodyFault fault;
};

const BodyEntry kBodies[] = {
    {"none", BodyFault::None},   {"empty", BodyFault::Empty},    {"junk", BodyFault::Junk},
    {"huge", BodyFault::Huge},   {"drop", BodyFault::Drop},      {"silent", BodyFault::Silent},
    {"extra", BodyFault::Extra}, {"bare-lf", BodyFault::BareLf}, {"no-status", BodyFault::NoStatus},
};

bool PlainText(const std::string& text) {
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u >= 0x7F || c == '&' || c == '#')
            return false;
    }
    return true;
}

} // namespace

bool DeviceFaults::Knows(const std::string& name) {
    return name == "reply" || name == "body";
}

bool DeviceFaults::Apply(const std::string& name, const std::string& value) {
    if (name == "reset") {
        Reset();
        return true;
    }
    if (name == "body") {
        for (const BodyEntry& b : kBodies) {
            if (value == b.name) {
                std::lock_guard<std::mutex> guard(mLock);
                mBody = b.fault;
                return true;
            }
        }
        return false;
    }
    if (name != "reply")
        return false;
    const size_t colon = value.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string word = value.substr(0, colon);
    const std::string key = value.substr(colon + 1);
    if (key.empty() || !PlainText(key) || !PlainText(word) || word.size() > kMaxWordBytes ||
        key.find('=') != std::string::npos)
        return false;
    std::lock_guard<std::mutex> guard(mLock);
    if (word.empty()) {
        mReplies.erase(key);
        return true;
    }
    if (mReplies.count(key) == 0 && mReplies.size() >= kMaxReplyOverrides)
        return false;
    mReplies[key] = word;
    return true;
}

bool DeviceFaults::ApplyText(const std::string& text) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos)
        return Apply(text, "");
    return Apply(text.substr(0, eq), text.substr(eq + 1));
}

void DeviceFaults::Reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mReplies.clear();
    mBody = BodyFault::None;
}

std::string DeviceFaults::StatusFor(const std::string& key) const {
    std::lock_guard<std::mutex> guard(mLock);
    auto it = mReplies.find(key);
    if (it != mReplies.end())
        return it->second;
    it = mReplies.find(kAnyKey);
    return it == mReplies.end() ? std::string() : it->second;
}

BodyFault DeviceFaults::Body() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mBody;
}

const char* DeviceFaults::BodyName(BodyFault fault) {
    for (const BodyEntry& b : kBodies)
        if (b.fault == fault)
            return b.name;
    return "?";
}

std::string DeviceFaults::Describe() const {
    std::lock_guard<std::mutex> guard(mLock);
    std::string out = std::string("body=") + BodyName(mBody);
    for (const auto& r : mReplies)
        out += " reply=" + r.second + ":" + r.first;
    return out;
}

const char* DeviceFaults::Help() {
    return "reply=WORD:KEY     answer KEY (\"*\" = every key) with status WORD (OK NG NS UW UA,\n"
           "                   or any other word); an empty WORD clears\n"
           "body=MODE          parameter CGI bodies: none, empty, junk, huge (4 MiB), drop (close\n"
           "                   unanswered), silent (never answer), extra (unasked lines after the\n"
           "                   answer), bare-lf, no-status\n";
}

} // namespace camsim
