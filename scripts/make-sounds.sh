#!/usr/bin/env bash
# Generates the station's sound files into the folder given: 0.wav … 9.wav,
# the digits spoken in Mandarin, and chong_d.wav, the alarm. Made with
# espeak-ng and sox at build time; no recordings are shipped.
set -euo pipefail
out="$1"
mkdir -p "$out"
digits=(零 一 二 三 四 五 六 七 八 九)
for i in "${!digits[@]}"; do
  espeak-ng -v cmn -s 150 -w "$out/$i.raw.wav" "${digits[$i]}"
  # 16-bit mono 22.05 kHz PCM, which every player takes
  sox "$out/$i.raw.wav" -r 22050 -c 1 -b 16 "$out/$i.wav"
  rm -f "$out/$i.raw.wav"
done
# Two short rising tones, repeated: unmistakable on a noisy line.
sox -n -r 22050 -c 1 -b 16 "$out/chong_d.wav" synth 0.12 square 880 : synth 0.12 square 1320 repeat 2 vol 0.6
