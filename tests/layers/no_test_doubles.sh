#!/bin/sh
# The program people run holds none of the tests' doubles: no headless
# display with its script, no drive sizes, no kill after so many bytes.
# Each name must be found in a test program, so that the check cannot pass
# by looking for names that exist nowhere.
# Usage: no_test_doubles.sh <program> <test program>
set -eu
program=$1
tests=$2
nm -C "$program" > program.symbols
nm -C "$tests" > tests.symbols
status=0
for name in 'plat::HeadlessDisplay::schedule' 'plat::HeadlessDisplay::wait' 'plat::makeHeadlessDisplay' \
            'typeinfo for plat::Hang' 'plat::setDriveSize' 'plat::avi::killAfterAviBytes' \
            'plat::imagelog::killAfterLogBytes'; do
    if ! grep -qF "$name" tests.symbols; then
        echo "not in $tests either: $name (the check no longer names a double)"
        status=1
    elif grep -F "$name" program.symbols; then
        echo "in $program: $name"
        status=1
    fi
done
[ $status -eq 0 ] && echo "$program holds no test double"
exit $status
