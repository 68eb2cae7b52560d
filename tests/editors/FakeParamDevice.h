// A device's parameter CGI as a table, for the editors' unit tests: reads
// answer from `values` by the key as sent ("getmotionxlimit",
// "paratest=motionxblock", "motionblock=2"), writes are recorded in order and
// stored under their key, and keys in `refused` answer NG. The answer names
// follow the devices' convention ("OK motionxlimit=..." for a paratest read,
// "OK motionblock=..." for an indexed one), so the reply parser files them as
// it files a device's.
#pragma once

#include "device/CProfileQueryDialect.h"
#include "device/FakeDevice.h"
#include "os/gdi/Gdi.h"

#include <map>
#include <set>
#include <string>
#include <vector>

struct SFakeParams {
    std::map<std::string, std::string> values;
    std::vector<std::string> writes; // "key=value" as sent, in order
    std::set<std::string> refused;   // key names answered NG (reads and writes)
    int reads = 0;

    static bool IsRead(const std::string& entry) {
        const size_t eq = entry.find('=');
        if (eq == std::string::npos)
            return true;
        const std::string name = entry.substr(0, eq);
        const std::string rest = entry.substr(eq + 1);
        if (name.compare(0, 3, "get") == 0 || name == "paratest")
            return true;
        // The grid of channel N is read as "motionblock=N".
        return name == "motionblock" && !rest.empty() &&
               rest.find_first_not_of("0123456789") == std::string::npos;
    }

    SAnswer operator()(const std::string& path) {
        const std::string cgi = "/vb.htm?";
        if (path.compare(0, cgi.size(), cgi) != 0)
            return Refused();
        std::string body;
        for (size_t start = cgi.size(), end = 0; start <= path.size(); start = end + 1) {
            end = std::min(path.find('&', start), path.size());
            const std::string entry = path.substr(start, end - start);
            if (entry.empty())
                continue;
            const size_t eq = entry.find('=');
            const std::string name = entry.substr(0, eq);
            if (IsRead(entry)) {
                ++reads;
                const std::string shown = name == "paratest" ? entry.substr(eq + 1) : name;
                auto it = values.find(entry);
                const bool ok = it != values.end() && refused.count(name) == 0 && refused.count(shown) == 0;
                body += (ok ? "OK " : "NS ") + shown + "=" + (ok ? it->second : "") + "\r\n";
                continue;
            }
            const std::string value = entry.substr(eq + 1);
            if (refused.count(name) != 0) {
                body += "NG " + name + "=" + value + "\r\n";
                continue;
            }
            writes.push_back(entry);
            body += "OK " + name + "=" + value + "\r\n";
        }
        return Ok(body);
    }
};

// A camera of the "/vb.htm?" family behind a scripted link: its dialect, link
// and URL, and its parameter table.
struct SFakeCamera {
    SFakeParams params;
    SHttpScript script;
    CFakeHttpClient client{script};
    CHttpLink link{&client};
    CProfileQueryDialect dialect{0x1200};
    std::string address = "http://127.0.0.1:8081/";

    SFakeCamera() {
        script.handler = [this](const std::string& path) { return params(path); };
    }
};

// A memory bitmap of width x height selected into a memory context: what a
// control paints into, as the renderer's overlay is.
struct SMemoryBitmap {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;

    SMemoryBitmap(int width, int height) {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateCompatibleBitmap(dc, width, height);
        SelectObject(dc, bitmap);
    }
    ~SMemoryBitmap() {
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    SMemoryBitmap(const SMemoryBitmap&) = delete;
    SMemoryBitmap& operator=(const SMemoryBitmap&) = delete;
};
