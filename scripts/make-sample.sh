#!/usr/bin/env bash
# Writes a spoken sample for the dictation pipeline: three sentences by espeak-ng with pauses
# between them, so the microphone path cuts it into several chunks. Usage: make-sample.sh OUT.wav
set -euo pipefail

out="${1:?usage: make-sample.sh OUT.wav}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

espeak-ng -w "$work/1.wav" "We shipped the new build on Friday morning."
espeak-ng -w "$work/2.wav" "The team fixed the login problem and the slow search."
espeak-ng -w "$work/3.wav" "Next week we will test the release with real users."
sox -n -r 22050 -c 1 -b 16 "$work/pause.wav" trim 0 1.2
sox "$work/1.wav" "$work/pause.wav" "$work/2.wav" "$work/pause.wav" "$work/3.wav" "$out"
