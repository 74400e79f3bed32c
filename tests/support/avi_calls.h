// The program's calls of the AVI library that decide what its output file
// holds, recorded in tests whose programs link with
//   -Wl,--wrap=AVIStreamWrite -Wl,--wrap=AVIStreamRelease -Wl,--wrap=AVIFileRelease
// (noctil_record_avi_calls in tests/CMakeLists.txt). The position an image is
// written at is its place in the file for the Windows library, which leaves
// a gap before a position past the end; the platform's library appends
// there, so the position is where that fault shows on this platform.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <vector>

namespace noctil::test {

struct AviCall {
    enum Kind { StreamWrite, StreamRelease, FileRelease } kind;
    const void *handle;  // the stream or file
    LONG start = 0;      // StreamWrite: the position asked for
    HRESULT result = 0;  // StreamWrite: what the library answered
};

// Every call since the program started or clearAviCalls was last called.
const std::vector<AviCall> &aviCalls();
void clearAviCalls();
// The positions of the program's AVIStreamWrite calls, in order.
std::vector<LONG> aviWritePositions();
// How many times `kind` was called.
int aviCallCount(AviCall::Kind kind);

}  // namespace noctil::test
