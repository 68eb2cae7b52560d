// What the capture layer asks of ALSA: which capture PCMs exist, and whether
// a PCM opens and takes a format. Internal to os/dsound; nothing here holds a
// PCM open beyond one call.
#pragma once

#include "os/kernel/Kernel.h"

#include <string>
#include <vector>

namespace os::dsound::alsa {

struct SCapturePcm {
    std::string name;        // as snd_pcm_open takes it ("default", "plughw:CARD=PCH,DEV=0")
    std::string description; // one line: ALSA's lines joined with ", "
};

// How the capture PCMs are found.
enum class Listing {
    // ALSA's device hints where there is a sound card; the configuration's
    // own PCMs where there is none.
    kAuto,
    // Always ALSA's device hints (what `arecord -L` prints). They evaluate
    // every definition of the configuration, card templates included: about
    // 1.5 ms here, most of the set-up on a machine without a sound card.
    kHints,
    // Only the PCMs the configuration defines (no card's), read from the
    // configuration tree without evaluating their definitions.
    kConfiguration,
};

// The PCMs that can capture, in ALSA's order (its configuration's, then per
// card), without ALSA's "null" discard device. 0, or a negative errno when
// ALSA's device list could not be made.
int ListCapturePcms(std::vector<SCapturePcm>& pcms, Listing listing = Listing::kAuto);

struct SPcmFormat {
    unsigned rate;     // samples per second
    unsigned bits;     // 8 (unsigned samples) or 16 (signed, little-endian)
    unsigned channels; // interleaved
};

enum class PcmAnswer {
    kAccepted,      // it opened (and takes the format, when one was asked about)
    kFormatRefused, // it opened but does not take the format
    kOpenFailed,    // it did not open: see error
    kTimedOut,      // it did not answer within the deadline (or is still hanging from before)
};

struct SPcmCheck {
    PcmAnswer answer = PcmAnswer::kOpenFailed;
    int error = 0; // ALSA's negative errno for kOpenFailed
};

// Opens `name` for capture (non-blocking) on a thread of its own, asks about
// `format` when one is given, and closes it, waiting at most deadlineMs. An
// open still running then is left to finish alone; the device answers
// kTimedOut at once until it has.
SPcmCheck CheckPcm(const std::string& name, const SPcmFormat* format, DWORD deadlineMs);

int HangingOpenCount();
bool WaitForHangingOpens(DWORD milliseconds);

} // namespace os::dsound::alsa
