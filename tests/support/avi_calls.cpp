#include "avi_calls.h"

extern "C" {
HRESULT __real_AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, LPVOID buffer, LONG bufferSize, DWORD flags,
                              LONG *samplesWritten, LONG *bytesWritten);
ULONG __real_AVIStreamRelease(PAVISTREAM stream);
ULONG __real_AVIFileRelease(PAVIFILE file);
}

namespace noctil::test {

namespace {

std::vector<AviCall> &calls() {
    static std::vector<AviCall> recorded;
    return recorded;
}

}  // namespace

const std::vector<AviCall> &aviCalls() { return calls(); }
void clearAviCalls() { calls().clear(); }

std::vector<LONG> aviWritePositions() {
    std::vector<LONG> positions;
    for (const AviCall &call : calls())
        if (call.kind == AviCall::StreamWrite) positions.push_back(call.start);
    return positions;
}

int aviCallCount(AviCall::Kind kind) {
    int count = 0;
    for (const AviCall &call : calls()) count += call.kind == kind;
    return count;
}

}  // namespace noctil::test

using noctil::test::AviCall;

extern "C" {

HRESULT __wrap_AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, LPVOID buffer, LONG bufferSize, DWORD flags,
                              LONG *samplesWritten, LONG *bytesWritten) {
    const HRESULT result =
        __real_AVIStreamWrite(stream, start, samples, buffer, bufferSize, flags, samplesWritten, bytesWritten);
    noctil::test::calls().push_back({AviCall::StreamWrite, stream, start, result});
    return result;
}

ULONG __wrap_AVIStreamRelease(PAVISTREAM stream) {
    noctil::test::calls().push_back({AviCall::StreamRelease, stream});
    return __real_AVIStreamRelease(stream);
}

ULONG __wrap_AVIFileRelease(PAVIFILE file) {
    noctil::test::calls().push_back({AviCall::FileRelease, file});
    return __real_AVIFileRelease(file);
}

}  // extern "C"
