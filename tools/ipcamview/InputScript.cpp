#include "InputScript.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

bool Number(const std::string& word, int64_t low, int64_t high, int64_t* value) {
    if (word.empty() || word.size() > 12)
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(word.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    *value = v;
    return true;
}

bool Button(const std::string& word, WPARAM* button) {
    if (word == "left")
        *button = MK_LBUTTON;
    else if (word == "right")
        *button = MK_RBUTTON;
    else
        return false;
    return true;
}

} // namespace

bool CInputScript::Parse(const std::string& line, SCommand* command, bool* isCommand, std::string* error) {
    *isCommand = false;
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    if (words.empty() || words[0][0] == '#')
        return true;
    SCommand c;
    const std::string& verb = words[0];
    auto bad = [&](const std::string& usage) {
        *error = "\"" + line + "\": expected " + usage;
        return false;
    };
    auto point = [&](size_t at) {
        int64_t x = 0, y = 0;
        if (words.size() <= at + 1 || !Number(words[at], 0, kMaxCoordinate, &x) ||
            !Number(words[at + 1], 0, kMaxCoordinate, &y))
            return false;
        c.x = static_cast<int>(x);
        c.y = static_cast<int>(y);
        return true;
    };
    // An optional last word "shift" after `count` words.
    auto shiftAfter = [&](size_t count) {
        if (words.size() == count)
            return true;
        if (words.size() == count + 1 && words[count] == "shift") {
            c.shift = true;
            return true;
        }
        return false;
    };
    if (verb == "down" || verb == "up") {
        c.kind = verb == "down" ? SCommand::Kind::Down : SCommand::Kind::Up;
        if (!point(1) || words.size() < 4 || !Button(words[3], &c.buttons) || !shiftAfter(4))
            return bad(verb + " X Y left|right [shift]");
    } else if (verb == "move") {
        c.kind = SCommand::Kind::Move;
        c.buttons = kHeldButtons;
        size_t used = 3;
        if (words.size() > 3 && words[3] != "shift") {
            used = 4;
            if (words[3] == "none")
                c.buttons = 0;
            else if (!Button(words[3], &c.buttons))
                return bad("move X Y [left|right|none] [shift]");
        }
        if (!point(1) || !shiftAfter(used))
            return bad("move X Y [left|right|none] [shift]");
    } else if (verb == "wheel") {
        c.kind = SCommand::Kind::Wheel;
        int64_t delta = 0;
        if (words.size() != 4 || !Number(words[1], -kMaxWheelDelta, kMaxWheelDelta, &delta) || !point(2))
            return bad("wheel DELTA X Y");
        c.delta = static_cast<int>(delta);
    } else if (verb == "menu") {
        c.kind = SCommand::Kind::Menu;
        int64_t id = 0;
        if (words.size() != 2 || (words[1] != "none" && !Number(words[1], 1, 0xFFFF, &id)))
            return bad("menu ID|none");
        c.menuId = static_cast<UINT>(id);
    } else if (verb == "answer") {
        c.kind = SCommand::Kind::Answer;
        if (words.size() != 2)
            return bad("answer ok|yes|no");
        if (words[1] == "ok")
            c.answer = IDOK;
        else if (words[1] == "yes")
            c.answer = IDYES;
        else if (words[1] == "no")
            c.answer = IDNO;
        else
            return bad("answer ok|yes|no");
    } else if (verb == "wait") {
        c.kind = SCommand::Kind::Wait;
        int64_t ms = 0;
        if (words.size() != 2 || !Number(words[1], 0, kMaxWaitMs, &ms))
            return bad("wait MS (0 to " + std::to_string(kMaxWaitMs) + ")");
        c.waitMs = static_cast<DWORD>(ms);
    } else if (verb == "frames") {
        c.kind = SCommand::Kind::Frames;
        int64_t frames = 0;
        if (words.size() != 2 || !Number(words[1], 1, kMaxFrames, &frames))
            return bad("frames N (1 to " + std::to_string(kMaxFrames) + ")");
        c.frames = static_cast<int>(frames);
    } else if (verb == "snapshot") {
        c.kind = SCommand::Kind::Snapshot;
        if (words.size() != 2)
            return bad("snapshot FILE.png");
        c.file = words[1];
    } else {
        *error = "\"" + line + "\": unknown command " + verb +
                 " (down, move, up, wheel, menu, answer, wait, frames, snapshot)";
        return false;
    }
    *command = c;
    *isCommand = true;
    return true;
}

bool CInputScript::AddLine(const std::string& line, const std::string& source, std::string* error) {
    ++mLineNumber;
    const std::string where = source + " line " + std::to_string(mLineNumber) + ": ";
    if (line.size() > kMaxLineBytes) {
        *error = where + "longer than " + std::to_string(kMaxLineBytes) + " bytes";
        return false;
    }
    SCommand command;
    bool isCommand = false;
    std::string reason;
    if (!Parse(line, &command, &isCommand, &reason)) {
        *error = where + reason;
        return false;
    }
    command.line = mLineNumber;
    if (isCommand)
        mCommands.push_back(command);
    return true;
}

bool CInputScript::Open(const std::string& path, std::string* error) {
    mCommands.clear();
    mLineNumber = 0;
    if (path == "-") {
        mStandardInput = true;
        return true;
    }
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read the input script " + path;
        return false;
    }
    for (std::string line; std::getline(in, line);)
        if (!AddLine(line, path, error))
            return false;
    return true;
}

bool CInputScript::ReadStandardInput(std::string* error) {
    static const std::string kSource = "standard input";
    pollfd p{STDIN_FILENO, POLLIN, 0};
    while (!mInputEnded && mCommands.empty() && ::poll(&p, 1, 0) > 0) {
        char buffer[4096];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            mInputEnded = true;
            break;
        }
        mPartial.append(buffer, static_cast<size_t>(got));
        for (size_t eol; (eol = mPartial.find('\n')) != std::string::npos;) {
            const std::string line = mPartial.substr(0, eol);
            mPartial.erase(0, eol + 1);
            if (!AddLine(line, kSource, error))
                return false;
        }
        // A line that never ends is refused once it is too long to be one.
        if (mPartial.size() > kMaxLineBytes)
            return AddLine(mPartial, kSource, error);
    }
    // A last line without its line feed still counts.
    if (mInputEnded && !mPartial.empty()) {
        const std::string line = mPartial;
        mPartial.clear();
        return AddLine(line, kSource, error);
    }
    return true;
}

CInputScript::Next CInputScript::Take(SCommand* command, std::string* error) {
    if (mStandardInput && mCommands.empty() && !ReadStandardInput(error))
        return Next::Error;
    if (!mCommands.empty()) {
        *command = mCommands.front();
        mCommands.pop_front();
        return Next::Command;
    }
    if (mStandardInput && !mInputEnded)
        return Next::NotYet;
    return Next::End;
}
