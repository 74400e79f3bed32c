// What a capture window's video-stream callback saw and did, as constant
// tables: each frame handed to it, and each capture message it sent, noted
// when the message returned, with its answer. A callback is a plain
// function, not a window message, so the entries are capture calls of their
// own; the comparison and its printing (expected beside actual, numbered)
// are message_sequence.h's.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <span>

#include "message_sequence.h"

namespace noctil::test {

enum CaptureCall {
    kCapFrame,  // a frame handed to the video-stream callback
    kCapSent,   // a message the callback sent to the capture window
};

// Flags of an expected capture call. Nesting is always compared: an entry
// without kCapNested must have come at the stream's own level.
enum : unsigned {
    kCapNested = 1,    // inside the callback of another frame (a frame the driver delivered inside a request)
    kCapOptional = 2,  // may be absent; the next actual call is then compared with the next entry
    kCapValue = 4,     // a frame's first byte, or a sent message's answer, must be the one given
};

struct ExpectedCapture {
    CaptureCall call;
    UINT message = 0;  // with kCapSent
    unsigned flags = 0;
    LRESULT value = 0;
};

struct RecordedCapture {
    CaptureCall call;
    UINT message;   // with kCapSent
    int depth;      // 0 at the stream's level, 1 inside another frame's callback
    LRESULT value;  // a frame's first byte (-1 for an empty frame), a message's answer
};

::testing::AssertionResult captureSequenceMatches(const char *context, std::span<const ExpectedCapture> expected,
                                                  std::span<const RecordedCapture> actual);

}  // namespace noctil::test
