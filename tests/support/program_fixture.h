// The fixture for tests of the whole program: the platform fixture plus a
// run of WinMain with the program's own resources.
#pragma once

#include "platform_fixture.h"

namespace noctil::test {

class ProgramTest : public PlatformTest {
protected:
    // Calls WinMain as the process start does and returns its exit code, or
    // -1 when the run hung (the test has then failed with the reason).
    int runProgram(int showCommand = SW_SHOWNORMAL);
};

}  // namespace noctil::test
