// The --input scripts of `ipcamview view`: window input written down, one
// command a line, for tests and for people who automate a camera's set-up.
//
//   down X Y left|right [shift]     a button goes down at client pixel (X, Y)
//   move X Y [left|right|none] [shift]
//                                   the pointer moves there; the buttons held
//                                   are the ones the script pressed unless named
//   up X Y left|right [shift]       the button comes up there
//   wheel DELTA X Y                 the wheel turns (120 a notch, positive away
//                                   from the user)
//   menu ID|none                    the answer to the next popup menu (an item's
//                                   identifier, or none to dismiss it); given
//                                   before the action that opens the menu
//   answer ok|yes|no                the answer to the next message box
//   wait MS                         nothing happens for MS milliseconds
//   frames N                        the script goes on once every viewer has
//                                   drawn N more pictures (or kMaxFramesWaitMs
//                                   passed): what a command changes in the
//                                   camera's own picture (a PTZ turn) comes
//                                   with later pictures, which no time can
//                                   promise on a slow camera or a busy machine
//   snapshot FILE.png               the window as shown, overlay included, once
//                                   every viewer's overlay has been redrawn
//                                   after the input before it (or
//                                   kMaxOverlayWaitMs passed)
//
// X and Y count from the window's top left corner: with one viewer they are
// client pixels of its channel's window; with several, a point in another
// cell reaches that cell's viewer. "shift" holds the Shift key, which the
// block grid editor reads as the erase modifier. Blank lines and lines
// beginning with "#" are skipped; words are separated by blanks.
//
// A script is read from a file (all of it, checked before anything starts)
// or from standard input ("-"), a line at a time as lines arrive, so that a
// program can drive a window interactively.
//
// Threads: the host's thread only.
#pragma once

#include "os/window/Window.h"

#include <cstdint>
#include <deque>
#include <string>

class CInputScript {
public:
    // Longest line taken; a longer one is an error, not a reason to grow.
    static constexpr size_t kMaxLineBytes = 4096;
    // Bounds of the numbers a command takes.
    static constexpr int kMaxCoordinate = 65535;
    static constexpr int kMaxWheelDelta = 120 * 100;
    static constexpr int64_t kMaxWaitMs = 3600 * 1000;
    static constexpr int64_t kMaxFrames = 10000;
    // How long "frames" waits at most for the pictures it asks for.
    static constexpr DWORD kMaxFramesWaitMs = 10000;
    // How long "snapshot" waits at most for the viewers' overlays to be
    // redrawn after the input before it (two passes of a worker that paints
    // ten times a second; the rest is for a busy machine).
    static constexpr DWORD kMaxOverlayWaitMs = 5000;

    struct SCommand {
        enum class Kind { Down, Move, Up, Wheel, Menu, Answer, Wait, Frames, Snapshot };
        Kind kind = Kind::Wait;
        int x = 0;
        int y = 0;
        // Down, Up: the button (MK_LBUTTON, MK_RBUTTON). Move: the buttons
        // named (MK_ bits), or kHeldButtons for "whatever the script holds".
        WPARAM buttons = 0;
        bool shift = false;
        int delta = 0;    // Wheel
        UINT menuId = 0;  // Menu: 0 dismisses
        int answer = 0;   // Answer: IDOK, IDYES, IDNO
        DWORD waitMs = 0; // Wait
        int frames = 0;   // Frames
        std::string file; // Snapshot
        int line = 0;     // where it stands in the script
    };
    static constexpr WPARAM kHeldButtons = ~WPARAM{0};

    // One line into a command. False, with the reason in *error, for a line
    // that is not a command; true with *isCommand false for a blank or
    // comment line.
    static bool Parse(const std::string& line, SCommand* command, bool* isCommand, std::string* error);

    // Reads and checks a whole file, or (path "-") prepares to read standard
    // input as it comes. False with the reason.
    bool Open(const std::string& path, std::string* error);

    enum class Next { Command, NotYet, End, Error };
    // The next command when one is ready; NotYet while standard input has no
    // complete line yet; End after the last one; Error (with *error) for a
    // bad line read from standard input.
    Next Take(SCommand* command, std::string* error);

private:
    // Reads what standard input has without waiting; false for a bad line.
    bool ReadStandardInput(std::string* error);
    // Parses one more line of the script (source names it in errors).
    bool AddLine(const std::string& line, const std::string& source, std::string* error);

    std::deque<SCommand> mCommands;
    bool mStandardInput = false;
    bool mInputEnded = false;
    std::string mPartial;
    int mLineNumber = 0;
};
