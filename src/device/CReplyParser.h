// The devices' parameter CGI: a GET whose query lists parameter names (to
// read them) or name=value pairs (to write them), answered by a plain-text
// body with one line per parameter:
//
//   OK getmachinecode=1412
//   NG setfoo=3
//
// A reply line is a status word, one blank, the parameter name, "=" and the
// value. CReplyParser builds such requests from a dictionary, splits them so
// that no request outgrows what the devices' CGI accepts, sends them through
// the viewer's control link and files the reply lines back into the
// dictionary. ParseReplyLine splits one line into status code, name and
// value.
//
// Ownership: the link is borrowed (the viewer owns it and outlives every
// parser); the request URL is the parser's own copy of the device URL.
// Threads: one parser is used by one thread at a time (the host's thread
// during open, the editors' and PTZ control's threads afterwards, each with
// its own parser); it shares nothing with other parsers.
#pragma once

#include "net/CUrl.h"
#include "platform/CSlowHash.h"

#include <string>
#include <string_view>

class CHttpLink;

// Status codes of reply lines (ParseReplyLine's result). Only kReplyOk
// means the device did what was asked; the others are passed on to callers
// as they came.
constexpr int kReplyOk = 200;      // "OK"
constexpr int kReplyNg = 205;      // "NG": refused
constexpr int kReplyNs = 210;      // "NS": not supported
constexpr int kReplyUw = 215;      // "UW": unwritable
constexpr int kReplyUa = 220;      // "UA": unauthorised
constexpr int kReplyUnknown = 300; // any other word, or no status word at all

// Splits one reply line into its status code, name and value:
// - the line is cut at blanks; with fewer than two pieces the result is
//   kReplyUnknown and name and value are left as they are;
// - the first piece, compared whole and case-sensitively with "OK", "NG",
//   "NS", "UW", "UA", gives the code (kReplyUnknown for anything else);
// - the second piece is separated at its first "=" into name and value,
//   both trimmed; without "=" the name is left as it is and the value
//   becomes the status word ("OK getfoo" gives 200 and the value "OK");
// - pieces after the second are ignored, so a value with a blank in it is
//   cut at the blank.
// The caller trims the line first: a trailing CR or blank would make a
// third piece or stick to the value's end.
int ParseReplyLine(std::string_view line, std::string& name, std::string& value);

class CReplyParser {
public:
    // Requests are cut so that the path-and-query stays near this many
    // characters, the CGI path included: an entry is added while the text so
    // far plus its key (and an update's value) stays within it; the "&" and
    // "=" that join the entries are not counted.
    static constexpr size_t kMaxRequestLength = 200;
    // The longest path-and-query a request can therefore have: the text
    // before the last entry was within the limit together with that entry's
    // key and value, and its "&" and "=" come on top.
    static constexpr size_t kMaxRequestText = kMaxRequestLength + 2;
    // The devices answer at most this many parameters per request.
    static constexpr int kMaxEntriesPerRequest = 8;

    CReplyParser() = default;
    // A parser on link (borrowed), a copy of deviceUrl (null: an empty URL)
    // and cgiPath ("/vb.htm?"; it must end with "?").
    CReplyParser(CHttpLink* link, CUrl* deviceUrl, std::string cgiPath);
    virtual ~CReplyParser() = default;
    CReplyParser(const CReplyParser&) = delete;
    CReplyParser& operator=(const CReplyParser&) = delete;

    // Reads the parameters whose names are the dictionary's keys. Each key
    // that a reply line answers gets the whole trimmed line as its value
    // ("OK getformat=1"); keys no line answered keep their values. Lines are
    // filed by name: a key equal to the line's name, else a key that begins
    // with the name and "=" ("getjpegxsize=1" for a line about
    // "getjpegxsize"), else by position (the n-th line with a known status
    // word goes to entry n). Lines without a known status word are skipped.
    // Returns 1 when every key was sent and its request answered, 0 when a
    // request failed or a key was too long to fit in a request (later keys
    // are then not sent). No entry is ever added or removed.
    virtual int Query(media_util::CSlowHash& params);
    // Writes the dictionary's name=value pairs ("=" is not added after a key
    // that already holds one, so {"b=2": ""} sends "b=2"). Each reply line
    // (every non-empty one, status word or not) replaces the value of the
    // next entry, in order across all requests of the call. Results as Query.
    virtual int Update(media_util::CSlowHash& params);

    // Query of the single key; out receives its value afterwards (the reply
    // line, or empty when none answered).
    int QueryOne(const std::string& key, std::string& out);
    // Update of the single pair; value is replaced by the entry's value
    // afterwards (the reply line, or value itself when none answered).
    int UpdateOne(const std::string& key, std::string& value);

    void SetLink(CHttpLink* link) { mpLink = link; }
    CHttpLink* GetLink() const { return mpLink; }
    // Copies deviceUrl (null is ignored) into the request URL.
    void SetDeviceUrl(CUrl* deviceUrl);
    void SetCgiPath(std::string cgiPath) { mCgiPath = std::move(cgiPath); }
    const std::string& GetCgiPath() const { return mCgiPath; }
    // The request URL; its path-and-query holds the last request sent.
    const CUrl& GetRequestUrl() const { return mRequestUrl; }

private:
    enum class Mode { Query, Update };
    int Run(media_util::CSlowHash& params, Mode mode);
    // Builds the next request from entry `first` on into mRequestUrl's
    // path-and-query; returns the number of entries it holds (0: the entry
    // at `first` alone does not fit).
    size_t BuildRequest(const media_util::CSlowHash& params, size_t first, Mode mode);
    void FileQueryLine(media_util::CSlowHash& params, const std::string& line, size_t& filed);

    CHttpLink* mpLink = nullptr; // borrowed
    CUrl mRequestUrl;
    std::string mCgiPath;
};
