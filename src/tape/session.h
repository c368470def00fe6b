#pragma once
// What the tape output workflow keeps between its handlers, and the text of
// its time display. UI thread only, except where a member says otherwise.

#include <QString>
#include <cstdint>

#include "capture/counters.h"
#include "platform/win/kernel.h"

namespace ronvix::tape {

struct TTapeSession {
    // True from the "Play" that built the file's graph in OutGraph until
    // "Stop" releases it. "Play" on a paused graph resumes only a session
    // that was built: a graph paused while the missing-file flash showed
    // holds no file, so it is stopped and the session built afresh.
    bool built = false;
    // The bytes the grabber has sent to the output device (added on the
    // streaming thread), and their rate between two rate ticks: the page's
    // own counts, which the capture page never reads or resets.
    capture::TByteCounter sent;
    capture::TRateMeter meter;
    // The clock of the rate ticks, in milliseconds (monotonic).
    uint64_t (*now_ms)() = &win::GetTickCount64;
};

// The play position as "hh:mm:ss": the position in whole milliseconds
// (100 ns units divided by 10000, truncated), split as a time of day, so
// the hours wrap at 24. A negative position counts back from midnight.
QString PlayTimeText(int64_t position_100ns);

}  // namespace ronvix::tape
