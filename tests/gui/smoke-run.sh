#!/usr/bin/env bash
# The desktop program on a virtual screen, driven by a script as a user would: the demo set opens, the
# first song is tapped through with the command dispatch, the set moves on, the options sheet and the
# singers' lyric window open, and the window is closed. Passes when the program exits cleanly, says
# nothing on stderr beyond its own notices (no warning from Qt), leaves nothing sounding in the capture
# log, and saved a screenshot of each state. Usage: smoke-run.sh CANTIVO SOURCE_DIR OUT_DIR
set -euo pipefail
cantivo=$1 source=$2 out=$3
if ! command -v xvfb-run >/dev/null; then
  echo "xvfb-run is missing (scripts/bootstrap installs xvfb): the smoke run is skipped"
  exit 0
fi
rm -rf "$out"
mkdir -p "$out/runtime"
chmod 700 "$out/runtime"
export XDG_RUNTIME_DIR="$out/runtime" CANTIVO_CONFIG="$out/cantivo.ini"
cat >"$out/script.txt" <<'SCRIPT'
1000 !screenshot 1-demo-set-open
1200 Play
4000 !screenshot 2-first-song-playing
17500 !screenshot 3-held-at-the-cue
18000 Play
21000 Next song
21500 Play
23500 !screenshot 4-next-song
24000 !options
25000 !screenshot 5-options-sheet
25500 !close
26000 !lyrics
27000 !screenshot 6-lyric-window
27500 Stop
28000 !quit
SCRIPT
status=0
timeout 120 xvfb-run -a -s "-screen 0 1600x900x24" "$cantivo" --script "$out/script.txt" --screenshots "$out" \
  --capture "$out/capture.log" --port Capture --data-dir "$out" "$source/data/sets/demo/Demo.set" \
  >"$out/stdout.txt" 2>"$out/stderr.txt" || status=$?
if [ "$status" -ne 0 ]; then
  echo "cantivo exited with $status"; cat "$out/stderr.txt"; exit 1
fi
# Anything but the script's own lines and the notices about missing hardware is a warning.
if grep -v -e '^script line ' -e '^No ALSA sequencer' -e '^The built-in synth' "$out/stderr.txt"; then
  echo "unexpected output on stderr (above)"; exit 1
fi
for shot in 1-demo-set-open 2-first-song-playing 3-held-at-the-cue 4-next-song 5-options-sheet 6-lyric-window; do
  [ -s "$out/$shot.png" ] || { echo "no screenshot $shot.png"; exit 1; }
done
# Every note let go and every sustain pedal up at the end, per port and channel.
python3 - "$out/capture.log" <<'PY'
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
    sys.exit("the capture log holds no note: nothing played")
if sounding or pedals:
    sys.exit(f"left sounding: {sorted(sounding)} pedals down: {sorted(pedals)}")
print(f"{notes} notes played, nothing left sounding")
PY
echo "screenshots in $out"
