# 64-bit ARM Linux (Debian arm64, Raspberry Pi OS 64-bit) from an amd64 Debian
# machine, with Debian's cross compiler (g++-aarch64-linux-gnu) and the
# libraries of the arm64 architecture installed beside the machine's own:
#   dpkg --add-architecture arm64 && apt-get update
#   apt-get install g++-aarch64-linux-gnu libcfitsio-dev:arm64 libjpeg62-turbo-dev:arm64
#   cmake -S . -B build-arm64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DNOCTIL_WERROR=ON \
#         -DNOCTIL_WITH_QT=OFF -DBUILD_TESTING=OFF --toolchain packaging/toolchains/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# pkg-config reads the arm64 libraries' files, never the machine's own.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# Programs (the resource compiler, python3) are the build machine's; libraries
# and headers are searched among the multiarch paths of arm64 only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# The tests, where built, run under qemu-user with the arm64 loader and
# libraries of the multiarch paths (package qemu-user).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)
