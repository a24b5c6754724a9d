#!/usr/bin/env bash
# Whole synchronisation through the browser stand-in, timed against a floor.
#
# For N bookmarks (default 1000 and 10000) in folders of 20, a computer that
# has synchronised before changes one bookmark while another computer has
# added one on the service; its next start-up run then does the whole
# work: read the Favorites, GET the service's full list, merge with the
# cache, PUT the result, write the Favorites back. That run (the whole
# iexplore.exe process) is timed against the floor: copying the same
# Favorites tree and making the copy durable (cp -a, sync -f: the apply
# flushes what it built before it swaps it in) plus one GET and one PUT of
# the same document with curl. Each is timed after a sync, so that neither
# pays for what the other wrote. Also reported: the CPU time (user + system) and the peak resident
# memory of iexplore.exe (GNU time).
# Each figure is the median of REPEATS runs (default 3). Loopback only;
# everything lives in a temporary folder that is removed at the end.
#   bench/sync_bench.sh [--repeats R] [--wrap COMMAND] [N...]
#   bench/sync_bench.sh --help
# --wrap runs the timed iexplore.exe under COMMAND, for profiling, e.g.
#   --wrap "valgrind --tool=massif --massif-out-file=/tmp/massif.out"
#   --wrap "perf record -g -o /tmp/perf.data"
# Uses build/bin (build it first: cmake --build build --target iexplore
# regsvr32 reg Bookmark quorvane-service).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BIN="${QUORVANE_BIN:-$ROOT/build/bin}"

repeats=3
wrap=""
sizes=()
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --repeats) repeats="$2"; shift ;;
    --wrap) wrap="$2"; shift ;;
    *[!0-9]*) echo "sync_bench.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
    *) sizes+=("$1") ;;
  esac
  shift
done
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000)
for program in quorvane-service iexplore.exe regsvr32 reg libBookmark.so; do
  [ -e "$BIN/$program" ] || { echo "sync_bench.sh: $BIN/$program is missing; build first" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "sync_bench.sh: needs GNU time (apt-get install time)" >&2; exit 1; }

unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export QUORVANE_CLOCK=virtual QUORVANE_UI=script:/dev/null
work="$(mktemp -d "${TMPDIR:-/tmp}/quorvane-syncbench-XXXXXX")"
service_pid=""
cleanup() {
  [ -n "$service_pid" ] && kill -TERM "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

"$BIN/quorvane-service" --quiet --listen 127.0.0.1:0 --database "$work/service.db" >"$work/service.out" 2>&1 &
service_pid=$!
for _ in $(seq 100); do grep -q '^listening on ' "$work/service.out" && break; sleep 0.1; done
port="$(sed -n 's/^listening on .*://p' "$work/service.out" | head -1)"
[ -n "$port" ] || { echo "sync_bench.sh: the service did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/data"

# A computer: prefix, settings, plug-in registered. The credentials are
# typed into the options dialog in its first run (first_run_account).
new_computer() {
  local prefix="$1"
  mkdir -p "$prefix/profile/Favorites" "$prefix/profile/AppData/Roaming/BookmarkPlugin" "$prefix/icons"
  printf 'server=127.0.0.1/data\r\nserver.port=%s\r\nsync.afterstart=1\r\nsync.beforeexit=0\r\n' "$port" \
    >"$prefix/profile/AppData/Roaming/BookmarkPlugin/bookmarks_Explorer.cfg"
  printf 'icons_folder=%s\r\n' "$prefix/icons" >"$prefix/profile/AppData/Roaming/BookmarkPlugin/bookmarks_Explorer2.cfg"
  QUORVANE_PREFIX="$prefix" "$BIN/regsvr32" /s "$BIN/libBookmark.so" >/dev/null
}
first_run_account() {
  QUORVANE_PREFIX="$1" "$BIN/iexplore.exe" >"$1.first" 2>&1 <<EOF
open
ui type 2004 $2
ui type 2005 benchpw
ui click 2002
ui click 1
press 1
quit
EOF
  grep -q 'Synchronization completed successfully' "$1.first" || { tail -20 "$1.first" >&2; exit 1; }
}
startup_run() { QUORVANE_PREFIX="$1" "$BIN/iexplore.exe" <<<$'open\nquit' >"$1.run" 2>&1; }

printf '%s\n' "machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s %10s %10s %10s %8s %10s %10s %10s\n' bookmarks "sync (s)" "sync cpu" "floor (s)" ratio "cp -a (s)" "get+put(s)" "peak RSS"

declare -A sync_time
account=0
for n in "${sizes[@]}"; do
  account=$((account + 1))
  query="user=bench$account&pass=benchpw"
  echo benchpw | "$BIN/quorvane-service" adduser "bench$account" --database "$work/service.db" >/dev/null
  a="$work/a$n" b="$work/b$n"
  new_computer "$a"
  new_computer "$b"
  folders=$(((n + 19) / 20))
  for ((f = 0; f < folders; f++)); do
    dir="$a/profile/Favorites/Group $((f / 50))/Folder $f"
    mkdir -p "$dir"
    for ((k = 0; k < 20 && f * 20 + k < n; k++)); do
      printf '[InternetShortcut]\r\nURL=https://site%d.example/page\r\n' $((f * 20 + k)) >"$dir/Site $((f * 20 + k)).url"
    done
  done
  # Both computers synchronised: a uploads, b takes the list.
  first_run_account "$a" "bench$account"
  first_run_account "$b" "bench$account"

  syncs=() cpus=() floors=() copies=() transfers=() peaks=()
  for ((r = 0; r < repeats; r++)); do
    # The other computer adds a bookmark on the service; this one changes
    # one locally. (An edit on the other side would lose to any local
    # change and leave nothing to write back.)
    printf '[InternetShortcut]\r\nURL=https://new%d.example/\r\n' "$r" >"$a/profile/Favorites/Group 0/Folder 0/New $r.url"
    startup_run "$a"
    printf '[InternetShortcut]\r\nURL=https://local%d.example/\r\n' "$r" >"$b/profile/Favorites/Group 0/Folder 0/Site 1.url"
    # Nothing written earlier (the last floor's copy) is left for the run's
    # flush to pay for.
    sync -f "$work"
    start=$(now)
    /usr/bin/time -f '%M %U %S' -o "$work/rss" env QUORVANE_PREFIX="$b" $wrap "$BIN/iexplore.exe" <<<$'open\nquit' >"$b.run" 2>&1
    end=$(now)
    grep -q 'Uploading has been finished successfully' "$b.run" || { echo "sync_bench.sh: the run did not upload" >&2; tail -5 "$b.run" >&2; exit 1; }
    grep -q 'Output data to browser is: <?xml' "$b.run" || { echo "sync_bench.sh: the run wrote nothing back" >&2; exit 1; }
    syncs+=("$(calc "$end - $start")")
    read -r rss user system <"$work/rss"
    peaks+=("$rss")
    cpus+=("$(calc "$user + $system")")

    # The floor: the same tree copied, the same document fetched and sent.
    rm -rf "$work/copy"
    curl -s -o "$work/list.xml" "$url?$query&function=get"
    sync -f "$work"
    start=$(now)
    cp -a "$b/profile/Favorites" "$work/copy"
    sync -f "$work/copy"
    middle=$(now)
    curl -s -o "$work/list.xml" "$url?$query&function=get"
    curl -s -o /dev/null -X PUT --data-binary @"$work/list.xml" "$url?$query&function=put"
    end=$(now)
    copies+=("$(calc "$middle - $start")")
    transfers+=("$(calc "$end - $middle")")
    floors+=("$(calc "$end - $start")")
  done
  s=$(printf '%s\n' "${syncs[@]}" | median)
  fl=$(printf '%s\n' "${floors[@]}" | median)
  c=$(printf '%s\n' "${copies[@]}" | median)
  t=$(printf '%s\n' "${transfers[@]}" | median)
  p=$(printf '%s\n' "${peaks[@]}" | median)
  u=$(printf '%s\n' "${cpus[@]}" | median)
  sync_time[$n]=$s
  printf '%-8s %10.3f %10.3f %10.3f %8.2f %10.3f %10.3f %7.1f MiB\n' "$n" "$s" "$u" "$fl" "$(calc "$s / $fl")" "$c" "$t" \
    "$(calc "$p / 1024")"
  rm -rf "$a" "$b" "$work/copy"
done
if [ -n "${sync_time[1000]:-}" ] && [ -n "${sync_time[10000]:-}" ]; then
  printf 'growth: the 10000 run takes %.2f times the 1000 run\n' "$(calc "${sync_time[10000]} / ${sync_time[1000]}")"
fi
