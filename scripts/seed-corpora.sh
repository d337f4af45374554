#!/usr/bin/env bash
# Seeds the fuzz corpora from wire traces: by default the golden traces of the
# protocol and simulator tests and the simulator's trace of a demo run
# (fuzz/traces/); any other trace the simulator wrote (tk571-sim --trace FILE,
# time stamps first) may be given instead. For each trace <name> it writes
#   fuzz/corpus/replies/trace_<name>[_<k>]  the controller's answers in order,
#                                           each in pieces of up to 24 bytes,
#                                           then all again in pieces of 3; a
#                                           long trace in windows of 60 answers
#   fuzz/corpus/tag_address/trace_<word><n>  a request word of a trace as the
#                                           tag address of a device it selects
#   fuzz/corpus/parameter_block/trace_<name> a block with the selected devices
#                                           entered as TK571 controllers
#   fuzz/corpus/driver/trace_<name>[_<k>]   a host that defines the recipe,
#                                           start and link tags of device 1,
#                                           loads a recipe, reads it back and
#                                           starts, polling between the
#                                           writes, over the same answers
# Inputs follow the fuzz targets' own framing (fuzz/fuzz_*.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -gt 0 ]; then
  traces=("$@")
else
  traces=(tests/protocol/golden/*.trace tests/sim/golden/*.trace fuzz/traces/*.trace)
fi
corpus=fuzz/corpus

# The bytes of hex tokens "06 30 31".
bytes() {
  local token
  for token in "$@"; do printf "\\x$token"; done
}

# fuzz_replies.cpp: a receive takes a length byte n, then 1 + n % 24 bytes.
pieces() {
  local size=$1
  shift
  local tokens=("$@") at=0 take
  while [ $at -lt ${#tokens[@]} ]; do
    take=$((${#tokens[@]} - at))
    [ $take -le "$size" ] || take=$size
    bytes "$(printf '%02X' $((take - 1)))" "${tokens[@]:at:take}"
    at=$((at + take))
  done
}

# fuzz_parameter_block.cpp: triples (high, low, value) write `value` at
# ((high << 8 | low) * 7) % 26508 of a default block; 3787 inverts the 7.
block_byte() {
  local index=$(($1 * 3787 % 26508))
  bytes "$(printf '%02X' $((index >> 8)))" "$(printf '%02X' $((index & 255)))" \
    "$(printf '%02X' "$2")"
}

# fuzz_driver.cpp: the host's part of a whole-driver input. Nine tags (an
# index into its address table, data kind, scan time / 4, no initial value),
# no change to the block, then calls: writes (2, count, tag id, value type,
# eight value bytes), bursts of polls (15, count), the host event (7, 1), a
# status (5), the tag kinds (9), an address check (8), and the stop (11).
driver_host() {
  bytes 08 \
    00 00 19 00 02 00 19 00 03 00 19 00 04 00 19 00 06 01 19 00 \
    07 01 19 00 08 01 19 00 09 02 19 00 01 00 19 00 \
    00
  bytes 02 01 02 00 00 00 00 00 00 40 7F 40
  bytes 02 01 03 00 00 00 00 00 00 00 59 40
  bytes 02 01 04 00 00 00 00 00 00 00 24 40
  bytes 02 01 05 01 01 00 00 00 00 00 00 00
  bytes 0F 1F 0F 1F 0F 1F 0F 1F
  bytes 02 01 06 01 01 00 00 00 00 00 00 00
  bytes 0F 1F 0F 1F
  bytes 02 01 07 01 01 00 00 00 00 00 00 00
  bytes 0F 1F 0F 1F 0F 1F 0F 1F
  bytes 07 01 05 09 0A 08 01 07 52 45 41 44 31 3A 31 01 00
  bytes 0F 1F 0F 1F 0B
}

mkdir -p "$corpus/driver"
for trace in "${traces[@]}"; do
  name=$(basename "$trace" .trace)
  replies=()
  words=()
  devices=()
  while read -r line; do
    # A time stamp of the simulator's --trace output goes first.
    [[ $line =~ ^[0-9.]+\ +(.*)$ ]] && line=${BASH_REMATCH[1]}
    read -r direction rest <<<"$line"
    read -ra tokens <<<"$rest"
    case $direction in
      "<<") replies+=("$rest") ;;
      ">>")
        text=$(bytes "${tokens[@]}" | tr -d '\r\n')
        if [[ $text =~ ^$'\x05'ID([0-9]+)$ ]]; then
          devices+=("$((10#${BASH_REMATCH[1]}))")
        elif [[ $text =~ ^[A-Z_]+$ ]]; then
          words+=("$text")
        fi
        ;;
    esac
  done <"$trace"

  # One replay runs a few hundred polls, so a long trace becomes several inputs.
  # Each replies input also becomes a whole-driver input.
  window=60
  for ((first = 0; first < ${#replies[@]}; first += window)); do
    file=$corpus/replies/trace_$name
    [ ${#replies[@]} -le $window ] || file+=_$((first / window + 1))
    for size in 24 3; do
      for reply in "${replies[@]:first:window}"; do
        read -ra tokens <<<"$reply"
        pieces $size "${tokens[@]}"
      done
    done >"$file"
    host_size=$(driver_host | wc -c)
    {
      bytes "$(printf '%02X' $((host_size >> 8)))" "$(printf '%02X' $((host_size & 255)))"
      driver_host
      cat "$file"
    } >"$corpus/driver/${file##*/}"
  done

  mapfile -t devices < <(printf '%s\n' "${devices[@]}" | sort -nu)
  for word in "${words[@]}"; do
    for device in "${devices[@]}"; do
      printf '%s%d:1' "$word" "$device" >"$corpus/tag_address/trace_$word$device"
      # The host's editor also takes the full-width colon (GBK A3 BA).
      printf '%s%d\xA3\xBA1' "$word" "$device" >"$corpus/tag_address/trace_${word}${device}_wide"
    done
  done

  # Header: error and trace log on. Entry n (device number n): type code 0
  # and its type name "TK571" (length byte first).
  {
    block_byte 1 1
    block_byte 2 1
    for device in "${devices[@]}"; do
      entry=$((16 + device * 264))
      block_byte $((entry + 4)) 0
      block_byte $((entry + 5)) 5
      at=$((entry + 6))
      for char in T K 5 7 1; do
        block_byte $at "'$char"
        at=$((at + 1))
      done
    done
  } >"$corpus/parameter_block/trace_$name"
done
