#!/usr/bin/env bash
# The desktop program on a virtual screen, driven by a script as a user would: the demo set opens, the
# opener is played and the set moves on to the ballad, which is held at its fermata while the lyric window
# and the options sheet are opened, then released, and the finale follows; the window is closed. Passes
# when the program exits cleanly, says nothing on stderr beyond its own notices (no warning from Qt, no
# message), leaves nothing sounding in the capture log, and saved a screenshot of each state.
# Then damaged files: a set and a song given on the command line, opened as from the menu, and handed
# over by a second start; each is reported with its message and the window goes on playing.
# Usage: smoke-run.sh CANTIVO SOURCE_DIR OUT_DIR. Exits 77 (skipped) without xvfb-run.
set -euo pipefail
cantivo=$1 source=$2 out=$3
if ! command -v xvfb-run >/dev/null; then
  echo "xvfb-run is missing (scripts/bootstrap installs xvfb): the smoke run is skipped"
  exit 77
fi
# Cleared here, not after, so the screenshots stay for a look once the run is over.
rm -rf "$out"
mkdir -p "$out/runtime" "$out/broken"
# Absolute, for the files the script names and for the single-instance socket in the runtime folder.
out=$(cd "$out" && pwd) source=$(cd "$source" && pwd)
chmod 700 "$out/runtime"
export XDG_RUNTIME_DIR="$out/runtime"
echo "screenshots and logs in $out"

failed=0
fail() { echo "FAIL: $*"; failed=1; }

# Runs cantivo on a screen of its own; NAME.stdout, NAME.stderr and NAME.status keep what it said.
run() {
  local name=$1
  shift
  local status=0
  timeout 150 xvfb-run -a -s "-screen 0 1600x900x24" "$cantivo" "$@" >"$out/$name.stdout" 2>"$out/$name.stderr" ||
    status=$?
  echo "$status" >"$out/$name.status"
}
exited() { # NAME: the run ended by itself and cleanly
  local status
  status=$(cat "$out/$1.status")
  [ "$status" -eq 0 ] || fail "$1: cantivo exited with $status (124: it did not end within its time)"
}

# Anything but the script's own lines and the notices about missing hardware (and the messages a step
# expects) is a warning.
quiet() {
  local name=$1
  shift
  local unexpected
  unexpected=$(grep -v -e '^script line ' -e '^No ALSA sequencer' -e '^The built-in synth' "$@" "$out/$name.stderr" ||
    true)
  [ -z "$unexpected" ] || fail "$name: unexpected output on stderr: $unexpected"
}

shots() {
  for shot in "$@"; do
    [ -s "$out/$shot.png" ] || fail "no screenshot $shot.png"
  done
}

# Every note let go and every sustain pedal up at the end, per port and channel.
nothing_sounding() {
  python3 - "$1" <<'PY'
import sys
sounding, pedals, notes = set(), set(), 0
for line in open(sys.argv[1]):
    if line.startswith('#') or not line.strip():
        continue
    _, port, data = line.rstrip('\n').split('\t')
    b = [int(x, 16) for x in data.split()]
    kind, channel = b[0] & 0xF0, (port, b[0] & 0x0F)
    if kind == 0x90 and len(b) == 3 and b[2] > 0:
        sounding.add((channel, b[1])); notes += 1
    elif kind in (0x80, 0x90) and len(b) == 3:
        sounding.discard((channel, b[1]))
    elif kind == 0xB0 and len(b) == 3 and b[1] == 64:
        (pedals.add if b[2] >= 64 else pedals.discard)(channel)
    elif kind == 0xB0 and len(b) == 3 and b[1] in (120, 123):
        sounding = {s for s in sounding if s[0] != channel}
if notes == 0:
    sys.exit(f"{sys.argv[1]}: the capture log holds no note: nothing played")
if sounding or pedals:
    sys.exit(f"{sys.argv[1]}: left sounding: {sorted(sounding)} pedals down: {sorted(pedals)}")
print(f"{sys.argv[1]}: {notes} notes played, nothing left sounding")
PY
}

# The demo set, in seconds from the script's start: the opener (4/4 at 120, a vamp heard twice and a
# skipped bar) plays 16 s and the set moves on to the ballad 1 s after it ends, then waits; the ballad
# (3/4 at 90) sings its words from 3 s to 11 s and holds at the fermata 12.7 s in until the next tap,
# then plays 2 s more; the finale (4/4 at 132) reaches its caesura 5.5 s in. Every step keeps at least
# a second, most two, from the moment it depends on, for a slow machine.
cat >"$out/script.txt" <<'SCRIPT'
1000 !screenshot 1-demo-set-open
1500 Play
5000 !screenshot 2-first-song-playing
# The opener ends at 17.5 s, the set moves on to the ballad at 18.5 s.
21000 Play
# The fermata at 33.7 s: held from then on, whatever the delay.
36000 !screenshot 3-ballad-held-at-the-fermata
36500 !lyrics
38000 !screenshot 4-lyric-window
38500 View lyrics
39500 !options
41000 !screenshot 5-options-sheet
41500 !close
42500 Play
# The ballad ends at 44.5 s, the set moves on to the finale at 45.5 s; its caesura would come at 53 s.
48000 Play
50500 !screenshot 6-next-song
51500 Stop
52500 !quit
SCRIPT
export CANTIVO_CONFIG="$out/cantivo.ini"
run smoke --script "$out/script.txt" --screenshots "$out" --capture "$out/capture.log" --port Capture \
  --data-dir "$out" "$source/data/sets/demo/Demo.set"
exited smoke
quiet smoke
shots 1-demo-set-open 2-first-song-playing 3-ballad-held-at-the-fermata 4-lyric-window 5-options-sheet 6-next-song
nothing_sounding "$out/capture.log" || failed=1

# Damaged files: a set too short to be one, and a song whose header is cut off.
broken_set="$out/broken/Broken.set" broken_song="$out/broken/Broken.mid"
printf '\x05\x00\x00\x00\x65' >"$broken_set"
printf 'MThd\x00\x00\x00\x06garbage' >"$broken_song"
set_message="Sorry, the set can not be opened--it may be damaged."
song_message="Sorry, the song can not be opened--it may be damaged."
reported() { # NAME MESSAGE: the message was shown (and so said on stderr) once
  local count
  count=$(grep -cF -- "$2" "$out/$1.stderr" || true)
  [ "$count" -eq 1 ] || fail "$1: \"$2\" reported $count times"
}

# From the command line: the file opens once the program's loop runs, so its message box stands over
# the window while the script goes on; closing it leaves the window usable, and it plays the demo set.
# A song that cannot be read is two boxes (what is wrong, then that it cannot be opened); the second
# "!close" finds nothing in front for the set.
export CANTIVO_CONFIG="$out/broken.ini"
for kind in set song; do
  file=$broken_set message=$set_message
  [ "$kind" = set ] || file=$broken_song message=$song_message
  cat >"$out/broken-$kind.txt" <<SCRIPT
1000 !screenshot 7-command-line-broken-$kind
1500 !close
2500 !close
3500 !open $source/data/sets/demo/Demo.set
4500 Play
6500 !screenshot 8-playing-after-broken-$kind
7000 Stop
8000 !quit
SCRIPT
  run "broken-$kind" --script "$out/broken-$kind.txt" --screenshots "$out" --capture "$out/broken-$kind.log" \
    --port Capture --data-dir "$out" "$file"
  exited "broken-$kind"
  reported "broken-$kind" "$message"
  quiet "broken-$kind" -e "^cantivo: .*$message" -e "^cantivo: $file "
  shots "7-command-line-broken-$kind" "8-playing-after-broken-$kind"
  nothing_sounding "$out/broken-$kind.log" || failed=1
done

# From the menu and from a second start while the first plays: each is reported, the first goes on.
cat >"$out/handed-over.txt" <<SCRIPT
1000 Play
2000 !open $broken_set
3000 !screenshot 9-menu-broken-set
3500 !close
# The second start below hands its file over after this line.
4000 !screenshot 10-before-hand-over
# A song that cannot be read is two messages: what is wrong with it, then that it cannot be opened.
12000 !screenshot 11-handed-over-broken-song
12500 !close
13500 !screenshot 12-handed-over-broken-song-message
14000 !close
15000 !screenshot 13-after-hand-over
15500 Stop
16500 !quit
SCRIPT
run handed-over --script "$out/handed-over.txt" --screenshots "$out" --capture "$out/handed-over.log" --port Capture \
  --data-dir "$out" "$source/data/sets/demo/Demo.set" &
first=$!
for _ in $(seq 120); do
  grep -q '^script line .*!screenshot 10-' "$out/handed-over.stderr" 2>/dev/null && break
  sleep 0.25
done
# The second start needs no screen of its own: it only hands its file over.
second=0
QT_QPA_PLATFORM=offscreen timeout 30 "$cantivo" "$broken_song" >"$out/second.stdout" 2>"$out/second.stderr" ||
  second=$?
wait "$first" || true
[ "$second" -eq 0 ] || fail "the second start exited with $second: $(cat "$out/second.stderr")"
exited handed-over
reported handed-over "$set_message"
reported handed-over "$song_message"
quiet handed-over -e "^cantivo: .*$set_message" -e "^cantivo: .*$song_message" -e "^cantivo: $broken_song "
shots 9-menu-broken-set 11-handed-over-broken-song 12-handed-over-broken-song-message 13-after-hand-over
nothing_sounding "$out/handed-over.log" || failed=1

echo "screenshots in $out:"
ls "$out"/*.png
exit "$failed"
