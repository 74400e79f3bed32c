#!/bin/bash
# Each program checked for what lintian's hardening tags look for, and what
# Debian's own packages have: a position-independent executable, its
# relocations read-only after start and bound at once (hardening-no-relro,
# hardening-no-bindnow), the fortified variants of the C library's calls
# (hardening-no-fortify-functions) and the stack protector.
#
#   hardening_test.sh READELF PROGRAM...
set -u
readelf=$1
shift

# what | readelf's option | a line that shows it (extended regular expression)
checks=(
  "position-independent|-hW|Type: +DYN"
  "read-only relocations (RELRO)|-lW|GNU_RELRO"
  "bound at once (BIND_NOW)|-dW|\\((BIND_NOW|FLAGS)\\).*NOW"
  "fortified calls|--dyn-syms -W|__[a-z_]+_chk(@|$| )"
  "stack protector|--dyn-syms -W|__stack_chk_fail"
)

failures=0
for program in "$@"; do
  for row in "${checks[@]}"; do
    IFS='|' read -r what options pattern <<<"$row"
    # shellcheck disable=SC2086  # the options are words of their own
    if "$readelf" $options "$program" | grep -Eq "$pattern"; then
      echo "ok   $(basename "$program"): $what"
    else
      echo "FAIL $(basename "$program"): $what (readelf $options: no line matches /$pattern/)"
      failures=$((failures + 1))
    fi
  done
done
exit $((failures > 0))
