#include "program_fixture.h"

#include "resources/resources.h"

namespace noctil::test {

int ProgramTest::runProgram(int showCommand) {
    int code = -1;
    static char emptyCommandLine[] = "";
    guard([&] { code = WinMain(plat::res::moduleInstance(), nullptr, emptyCommandLine, showCommand); });
    return code;
}

}  // namespace noctil::test
