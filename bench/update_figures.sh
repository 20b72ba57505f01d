#!/usr/bin/env bash
# Wall time of a check that fetches 50 descriptors and of a download of a
# 100 MB file through the real window (updater-shot, Qt offscreen), next to
# curl fetching the same files from the same pyftpdlib server in active mode.
# The server runs on 127.0.0.1 port 21, as in the demo: do not run both at once.
#
#   bench/update_figures.sh [BUILD_DIR]      (default build/app; needs updater-shot)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/app}"
shot="$build/updater-shot"
[ -x "$shot" ] || { echo "build updater-shot first: cmake --build $build --target updater-shot" >&2; exit 1; }
command -v curl >/dev/null || { echo "curl is needed" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/updater-figures.XXXXXX")"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

product="$work/server/qt482"
mkdir -p "$product/log" "$product/Bin"
printf '[kvdatacont]\r\nclient_version=50\r\ndatabase_version=1\r\n' >"$product/version.ini"
for n in $(seq 1 50); do
  printf '[f%d]\r\nName=file%d.txt\r\ntype=DOC\r\nSize=1KB\r\nDate=2024-01-01\r\n' "$n" "$n" >"$product/log/$n.ini"
done
printf '[big]\r\nName=Bin\\big.bin\r\ntype=BIN\r\nSize=100MB\r\nDate=2024-01-01\r\n' >"$product/log/51.ini"
head -c 100000000 /dev/urandom >"$product/Bin/big.bin"

/usr/bin/python3 "$root/tests/support/ftp_server.py" --root "$work/server" --address 127.0.0.1 --port 21 \
  --user tarnivelo --password qmzwkt >"$work/server.out" &
server_pid=$!
for _ in $(seq 1 300); do grep -q '^PORT ' "$work/server.out" 2>/dev/null && break; sleep 0.1; done

seconds() { date +%s.%N; }
elapsed() { /usr/bin/python3 -c "import sys; print(\"%.3f\" % (float(sys.argv[2]) - float(sys.argv[1])))" "$1" "$2"; }

# 1. A check that fetches descriptors 1 to 50 (local version 0; each goes to
#    nowlog and log, so 100 RETR, plus the listings and version.ini).
check="$work/check"
mkdir -p "$check"
printf '[kvdatacont]\r\nclient_version=0\r\n' >"$check/updateset.inf"
rm -f "$product/log/51.ini.off"; mv "$product/log/51.ini" "$product/log/51.ini.off"
QT_QPA_PLATFORM=offscreen "$shot" --exe-dir "$check" --timings 2>&1 | grep 'took' | sed 's/^/check:    /'
mv "$product/log/51.ini.off" "$product/log/51.ini"
mkdir -p "$work/curl-log"
t0=$(seconds)
curl -s -P 127.0.0.1 --user tarnivelo:qmzwkt "ftp://127.0.0.1/qt482/log/[1-50].ini" -o "$work/curl-log/#1.ini"
t1=$(seconds)
echo "curl:     50 descriptors once, one session: $(elapsed "$t0" "$t1") s"
t0=$(seconds)
curl -s -P 127.0.0.1 --user tarnivelo:qmzwkt "ftp://127.0.0.1/qt482/log/[1-50].ini" -o "$work/curl-log/#1.ini" \
  "ftp://127.0.0.1/qt482/log/[1-50].ini" -o "$work/curl-log/b#1.ini"
t1=$(seconds)
echo "curl:     50 descriptors twice, one session: $(elapsed "$t0" "$t1") s"

# 2. A download of the 100 MB file (local version 50: only descriptor 51).
download="$work/download"
mkdir -p "$download"
printf '[kvdatacont]\r\nclient_version=50\r\n' >"$download/updateset.inf"
QT_QPA_PLATFORM=offscreen "$shot" --exe-dir "$download" --timings --press Button2 2>&1 | grep 'took' |
  sed 's/^/download: /'
cmp -s "$download/Update/big.bin" "$product/Bin/big.bin" && echo "download: file identical"
t0=$(seconds)
curl -s -P 127.0.0.1 --user tarnivelo:qmzwkt "ftp://127.0.0.1/qt482/Bin/big.bin" -o "$work/big.bin"
t1=$(seconds)
echo "curl:     100 MB file: $(elapsed "$t0" "$t1") s"
