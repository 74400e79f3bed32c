#!/usr/bin/env bash
# Runs the port layer's tests (port_test.cpp) under Wine in the suite's
# prefix: COM9 is no port there, COM6 is no serial port (wine.sh).
. "$(dirname "$0")/lib.sh"
folder=$state/port_test
rm -rf "$folder"; mkdir -p "$folder"
wine "$1" "Z:${folder//\//\\}" COM9 COM6
