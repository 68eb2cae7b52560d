// The client side of the tests against camsim (its own and the viewer's): one
// camsim per model for a test binary, a shell runner for the outside tools
// (curl, ffprobe, ffmpeg, gst-launch), one-request answers read from a
// loopback socket, a multipart reader written from the wire format alone, and
// readers of what the parts carry (QBoxes, the JPEG device header, the coded
// size as FFmpeg sees it).
#pragma once

#include "fakes/CamsimProcess.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace camsimtest {

// How long any one read may wait for camsim.
constexpr int kDeadlineMs = 15000;
// Bound of one answer read, above camsim's largest body.
constexpr size_t kMaxAnswerBytes = 8 * 1024 * 1024;

inline std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
        out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

inline std::string Camsim(const std::string& args) {
    return Shell(std::string(CAMSIM_PATH) + " " + args);
}

using Values = std::map<std::string, std::string>;

// "name=value" lines, as camsim describes a model.
inline Values NameValues(const std::string& text) {
    Values values;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// What camsim says of a model (--describe), and one number of it ("0x" hex).
inline Values Describe(const std::string& model) {
    return NameValues(Camsim("--device " + model + " --describe"));
}
inline int Number(const Values& values, const std::string& name) {
    return static_cast<int>(std::stol(values.at(name), nullptr, 0));
}

// The rows of the table of docs/`document` between the "`marker`-begin" and
// "`marker`-end" comments, each row's cells trimmed, the header row left out.
inline std::vector<std::vector<std::string>> DocumentTable(const std::string& document,
                                                           const std::string& marker) {
    const char* root = std::getenv("IPCAM_SOURCE_DIR");
    const std::string file(__FILE__);
    std::ifstream in((root ? std::string(root) : file.substr(0, file.rfind("/tests/"))) + "/docs/" +
                     document);
    std::vector<std::vector<std::string>> rows;
    bool inTable = false;
    bool header = true;
    for (std::string line; std::getline(in, line);) {
        if (line.find(marker + "-begin") != std::string::npos)
            inTable = true;
        if (line.find(marker + "-end") != std::string::npos)
            inTable = false;
        if (!inTable || line.compare(0, 2, "| ") != 0)
            continue;
        if (header) {
            header = false;
            continue;
        }
        std::vector<std::string> cells;
        std::istringstream cs(line.substr(1));
        for (std::string cell; std::getline(cs, cell, '|');) {
            const size_t a = cell.find_first_not_of(' ');
            cells.push_back(a == std::string::npos ? "" : cell.substr(a, cell.find_last_not_of(' ') - a + 1));
        }
        rows.push_back(cells);
    }
    return rows;
}

// Files handed to the tools live in one folder per run, removed at exit.
inline std::string TempDir() {
    struct Folder {
        std::string path;
        Folder() {
            const char* base = std::getenv("IPCAM_TEST_TMP");
            path = std::string(base ? base : "/tmp") + "/camsim-test-" + std::to_string(::getpid());
            Shell("mkdir -p '" + path + "'");
        }
        ~Folder() { Shell("rm -rf '" + path + "'"); }
    };
    static Folder folder;
    return folder.path;
}

inline std::string WriteFile(const std::string& name, const std::string& data) {
    const std::string path = TempDir() + "/" + name;
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    return path;
}

inline int Connect(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends `request` as is on a fresh connection and returns all that came back
// until camsim closed, within the deadline and the bound.
inline std::string Exchange(uint16_t port, const std::string& request) {
    std::string data;
    const int fd = Connect(port);
    if (fd < 0)
        return data;
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[65536];
    pollfd p{fd, POLLIN, 0};
    for (ssize_t n; data.size() < kMaxAnswerBytes && ::poll(&p, 1, kDeadlineMs) > 0 &&
                    (n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0;)
        data.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return data;
}

// The port of a camsim playing `device` (with `extra` options), started on
// first use and shared by the tests of the binary; a test that changes the
// device puts it back with the control CGIs' reset.
inline uint16_t DevicePort(const std::string& device, const std::vector<std::string>& extra = {}) {
    static std::map<std::vector<std::string>, std::unique_ptr<CamsimProcess>> pool;
    std::vector<std::string> args = {"--device", device};
    args.insert(args.end(), extra.begin(), extra.end());
    std::unique_ptr<CamsimProcess>& process = pool[args];
    if (!process)
        process = std::make_unique<CamsimProcess>(args);
    return process->Port();
}

inline std::string Address(uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

struct Answer {
    int status = 0; // 0: no status line came back
    std::string head;
    std::string body;
};

// One GET, the target sent exactly as given (no encoding, as a viewer sends it).
inline Answer Get(uint16_t port, const std::string& target) {
    Answer a;
    const std::string data =
        Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    size_t end = data.find("\r\n\r\n");
    if (data.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos)
        return a;
    a.status = std::atoi(data.c_str() + 9);
    a.head = data.substr(0, end + 4);
    a.body = data.substr(end + 4);
    return a;
}

inline std::string Body(uint16_t port, const std::string& target) {
    return Get(port, target).body;
}

// Device switches ("reply=NG:getmachinecode", "body=junk", "reset=faults")
// through camsim's own CGI, which no credentials or faults touch; true when
// camsim took them.
inline bool Switch(uint16_t port, const std::string& query) {
    return Body(port, "/camsim/device?" + query).compare(0, 2, "OK") == 0;
}

inline uint32_t Le16(const std::string& s, size_t at) {
    return static_cast<uint8_t>(s[at]) | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8;
}

inline uint32_t Le32(const std::string& s, size_t at) {
    return Le16(s, at) | Le16(s, at + 2) << 16;
}

struct Part {
    std::map<std::string, std::string> headers;
    std::string data;
    std::string Header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
    bool IsAudio() const { return headers.count("X-Codec") > 0; }
    bool IsWait() const { return Header("X-Wait") == "1"; }
};

// A viewer's side of one stream: the response head, then parts found by
// their boundary lines and sized by their Content-Length.
class StreamClient {
public:
    StreamClient(uint16_t port, const std::string& target) : mFd(Connect(port)) {
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (mFd >= 0)
            ::send(mFd, request.data(), request.size(), MSG_NOSIGNAL);
        const size_t end = Find("\r\n\r\n", 0);
        if (end == std::string::npos)
            return;
        mHead = mData.substr(0, end + 4);
        mData.erase(0, end + 4);
    }
    ~StreamClient() {
        if (mFd >= 0)
            ::close(mFd);
    }
    const std::string& Head() const { return mHead; }
    // What came after the head up to the end of the last part read.
    std::string Consumed() const { return mData.substr(0, mAt); }
    bool Closed() const { return mClosed; }
    // Bytes that arrived unasked (a non-blocking look).
    size_t Pending() {
        char buffer[4096];
        ssize_t n = ::recv(mFd, buffer, sizeof(buffer), MSG_DONTWAIT | MSG_PEEK);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
    // Up to `count` parts; with `videoOnly` audio and waiting parts are skipped.
    std::vector<Part> Read(size_t count, bool videoOnly = false) {
        std::vector<Part> parts;
        for (Part part; parts.size() < count && Next(&part); part = Part())
            if (!videoOnly || (!part.IsAudio() && !part.IsWait()))
                parts.push_back(part);
        return parts;
    }

private:
    // One read within the deadline; false once the stream has ended.
    bool Receive() {
        char buffer[65536];
        pollfd p{mFd, POLLIN, 0};
        ssize_t n = mFd >= 0 && !mClosed && ::poll(&p, 1, kDeadlineMs) > 0
                        ? ::recv(mFd, buffer, sizeof(buffer), 0)
                        : 0;
        mClosed = n <= 0;
        mData.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
        return !mClosed;
    }
    // Where `text` starts at or after `from`, receiving until it has come.
    size_t Find(const std::string& text, size_t from) {
        size_t at;
        while ((at = mData.find(text, from)) == std::string::npos && Receive()) {
        }
        return at;
    }
    bool Next(Part* part) {
        const size_t boundary = Find("--myboundary\r\n", mAt);
        const size_t end = boundary == std::string::npos ? boundary : Find("\r\n\r\n", boundary);
        if (end == std::string::npos)
            return false;
        std::istringstream lines(mData.substr(boundary + 14, end + 2 - boundary - 14));
        for (std::string line; std::getline(lines, line);) {
            const size_t colon = line.find(':');
            const size_t value = line.find_first_not_of(' ', colon + 1);
            if (colon == std::string::npos || value == std::string::npos)
                return false;
            part->headers[line.substr(0, colon)] = line.substr(value, line.size() - 1 - value);
        }
        mAt = end + 4;
        if (part->IsWait())
            return true; // its bytes, if any, are not its own
        const size_t length = std::strtoul(part->Header("Content-Length").c_str(), nullptr, 10);
        while (mData.size() < mAt + length)
            if (!Receive())
                return false;
        part->data = mData.substr(mAt, length);
        mAt += length;
        return true;
    }

    int mFd;
    std::string mHead;
    std::string mData;
    size_t mAt = 0;
    bool mClosed = false;
};

inline uint32_t Be32(const std::string& s, size_t at) {
    return (Le16(s, at) & 0xFF) << 24 | (Le16(s, at) >> 8) << 16 | (Le16(s, at + 2) & 0xFF) << 8 |
           Le16(s, at + 2) >> 8;
}

// What ffprobe sees in a file: "codec,W*H,frames".
inline std::string Probe(const std::string& path, const std::string& format = "image2") {
    std::string out = Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                            "stream=codec_name,width,height,nb_read_frames -of csv=p=0 -f " +
                            format + " '" + path + "' 2>&1");
    while (!out.empty() && (out.back() == '\n' || out.back() == ','))
        out.pop_back();
    const size_t comma = out.find(',', out.find(',') + 1);
    return comma == std::string::npos ? out : out.replace(comma, 1, "*");
}

// NAL unit types of an Annex-B payload.
inline std::vector<int> NalTypes(const std::string& data) {
    std::vector<int> types;
    for (size_t i = 0; i + 3 < data.size(); ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            types.push_back(data[i + 3] & 0x1F);
            i += 2;
        }
    return types;
}

struct Box {
    uint32_t flags;
    std::string payload;
};

// The QBoxes of a part (size, "qbox", version 0, boxflags, sample flags,
// CTS, payload); empty when the framing is broken.
inline std::vector<Box> Boxes(const std::string& data) {
    std::vector<Box> boxes;
    for (size_t at = 0; at < data.size();) {
        const uint32_t size = data.size() - at < 24 ? 0 : Be32(data, at);
        if (size < 24 || size > data.size() - at || data.compare(at + 4, 4, "qbox") != 0 ||
            Be32(data, at + 8) != 0 || (Be32(data, at + 12) >> 16) != 2)
            return {};
        boxes.push_back({Be32(data, at + 16), data.substr(at + 24, size - 24)});
        at += size;
    }
    return boxes;
}

// The device header behind a JPEG's start marker, an APP12 segment "IPCH":
// "CODE chN W*H" (the code in hex), or "none".
inline std::string DeviceHeader(const std::string& jpeg) {
    if (jpeg.compare(0, 10, std::string("\xFF\xD8\xFF\xEC\x00\x3EIPCH", 10)) != 0 || jpeg.size() < 66)
        return jpeg.find("IPCH") == std::string::npos ? "none" : "misplaced";
    std::ostringstream text;
    text << std::hex << Le32(jpeg, 10) << std::dec << " ch" << (jpeg[24] & 0x0F) + 1 << " " << Le16(jpeg, 36)
         << "*" << Le16(jpeg, 38);
    return text.str();
}

// The size coded in a baseline or extended JPEG's start-of-frame segment,
// "W*H", found by walking the segments (the device header's numbers may hold
// any byte pair); "" when there is none.
inline std::string JpegFrameSize(const std::string& jpeg) {
    for (size_t at = 2; at + 11 <= jpeg.size() && static_cast<uint8_t>(jpeg[at]) == 0xFF;) {
        const uint8_t marker = static_cast<uint8_t>(jpeg[at + 1]);
        const uint32_t length = Be32(jpeg, at) & 0xFFFF;
        if (marker >= 0xC0 && marker <= 0xC2)
            return std::to_string(Be32(jpeg, at + 7) >> 16) + "*" + std::to_string(Be32(jpeg, at + 5) >> 16);
        at += 2 + length;
    }
    return "";
}

// The coded size of a stream's first video part as FFmpeg decodes it, "W*H".
inline std::string CodedSize(const Part& part) {
    const std::string type = part.Header("Content-Type");
    if (type == "image/jpeg")
        return JpegFrameSize(part.data);
    std::string elementary = part.data;
    if (type == "image/avc") {
        elementary.clear();
        for (const Box& b : Boxes(part.data))
            elementary += b.payload;
    }
    const std::string probed =
        Probe(WriteFile("first." + type.substr(6), elementary), type == "image/avc" ? "h264" : "m4v");
    const size_t comma = probed.find(',');
    return probed.substr(comma + 1, probed.rfind(',') - comma - 1);
}

} // namespace camsimtest
