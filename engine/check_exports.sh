#!/usr/bin/env bash
# Checks that the engine library exports exactly the functions of corvex.h.
#   check_exports.sh [--help] path/to/libcorvex.so
set -euo pipefail
usage() { sed -n '2,3p' "$0" | sed 's/^# \{0,1\}//'; }
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  "") usage >&2; exit 2 ;;
esac

expected='DecInstanceCount(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
GetInstanceCount(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
IncInstanceCount(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
InitInstanceCount(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
SetRegisterFunc(void (*)())
SetSyncAuto(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&, int)
ShowErrorIcon(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
SyncAfterStart(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
SyncAuto(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
SyncBeforeExit(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
SyncEnabled(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&, bool)
SyncInterval(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
Synchronize(bool, std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&, std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >*, std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >*)'

# Text (code) symbols only; the linker's own markers and the sanitizers'
# hooks are not the engine's.
actual="$(nm -D --defined-only "$1" | awk '$2 == "T" || $2 == "W" || $2 == "i" { print $3 }' |
          c++filt | grep -v -E '^(_init|_fini|__asan_|__ubsan_|__sanitizer_)' | LC_ALL=C sort)"

if [ "$actual" != "$(printf '%s\n' "$expected" | LC_ALL=C sort)" ]; then
  echo "exported functions differ from corvex.h:" >&2
  diff <(printf '%s\n' "$expected" | LC_ALL=C sort) <(printf '%s\n' "$actual") >&2 || true
  exit 1
fi
others="$(nm -D --defined-only "$1" | awk '$2 != "T" && $2 != "W" && $2 != "i" { print $3 }' |
          grep -v -E '^(__bss_start|_edata|_end|_init|_fini)$' || true)"
if [ -n "$others" ]; then
  echo "unexpected exported data:" >&2
  echo "$others" >&2
  exit 1
fi
echo "libcorvex.so exports the 13 functions of corvex.h"
