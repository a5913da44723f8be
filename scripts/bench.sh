#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The end-to-end benchmark in one command: generates synthetic board scans,
# times the floor (read the file, compare every pixel once) and rastrace-cli
# on each, and prints a markdown table with the targets beside the figures.
#
#   scripts/bench.sh [options] [build-dir]        (default build-dir: build-bench)
#
#   -n, --runs N        runs per case; the table shows medians (default 5)
#   --a4-runs N         runs per case for the A4 pictures (default: as --runs)
#   --sizes LIST        comma-separated subset of: 10cm,20cm,a4,a4-noisy,a3-2400
#                       (default: all five; a3-2400 is a 3.3 GB scan, made only
#                       where the disk has room for it, and skipped otherwise)
#   -h, --help          this text
#   WINDOW_BUILD=DIR    (environment) a build with the window for its rows
#                       (default: build-dir, configured with the window when
#                       Qt 6 is installed)
#
# Builds rastrace-cli, rastrace-boardgen, rastrace-floor and rastrace-benchrun
# in build-dir (configuring a Release build there if it holds none yet).
# Pictures are cached in build-dir/bench-data and made again when the
# generator is rebuilt; outputs go there too and are removed at the end. The
# table is also saved as build-dir/bench-data/results.md.
set -euo pipefail

usage() { sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; }

RUNS=5
A4_RUNS=""
SIZES="10cm,20cm,a4,a4-noisy,a3-2400"
BUILD=""
ARGS=("$@")
while [[ $# -gt 0 ]]; do
  case "$1" in
    -n|--runs) RUNS=$2; shift 2 ;;
    --a4-runs) A4_RUNS=$2; shift 2 ;;
    --sizes) SIZES=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    -*) echo "bench.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) BUILD=$1; shift ;;
  esac
done

A4_RUNS=${A4_RUNS:-$RUNS}
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
mkdir -p "$BUILD"
BUILD=$(cd "$BUILD" && pwd)
DATA=$BUILD/bench-data
OUT=$DATA/out
mkdir -p "$DATA" "$OUT"
trap 'rm -rf "$OUT"' EXIT

log() { echo "bench: $*" >&2; }
NOTES_SKIPPED=()

# --- Build ---------------------------------------------------------------------

if [[ ! -f $BUILD/CMakeCache.txt ]]; then
  log "configuring a Release build in $BUILD"
  # The window's rows need Qt 6; without it they say so and the rest still runs.
  ui=OFF
  dpkg-query -W -f='${Status}' qt6-base-dev 2>/dev/null | grep -q "install ok installed" && ui=ON
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DRASTRACE_BUILD_UI=$ui -DRASTRACE_BUILD_TESTS=OFF \
    >"$DATA/build.log" 2>&1 || { cat "$DATA/build.log" >&2; exit 1; }
fi
BUILD_TYPE=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
if [[ $BUILD_TYPE != Release ]]; then
  log "WARNING: $BUILD is a '${BUILD_TYPE:-default}' build, not Release: the figures are not comparable"
fi

log "building the benchmark tools"
make -C "$BUILD" -j2 rastrace-boardgen rastrace-floor rastrace-benchrun >"$DATA/build.log" 2>&1 \
  || { cat "$DATA/build.log" >&2; exit 1; }
BOARDGEN=$BUILD/bench/rastrace-boardgen
FLOOR=$BUILD/bench/rastrace-floor
BENCHRUN=$BUILD/bench/rastrace-benchrun
CLI=$BUILD/rastrace-cli

# The converter may not be finished: its rows then say why instead of failing the run.
CLI_PROBLEM=""
log "building rastrace-cli"
if ! make -C "$BUILD" -j2 rastrace-cli >"$DATA/build-cli.log" 2>&1; then
  CLI_PROBLEM="rastrace-cli does not build (see $DATA/build-cli.log)"
elif [[ -z "$("$CLI" -h 2>&1)" ]]; then
  CLI_PROBLEM="rastrace-cli prints no usage with -h"
fi
[[ -n $CLI_PROBLEM ]] && log "$CLI_PROBLEM: its rows are skipped"

# --- Pictures --------------------------------------------------------------------

COPPER=4229316      # top copper, 0x4088C4
COPPER2=6333654     # second copper, 0x60A4D6
SILK_WHITE=15002860 # 0xE4ECEC
SILK_YELLOW=4773608 # 0x48D6E8

# name -> "width height dpi noise label"
declare -A PICTURE=(
  [10cm]="2362 2362 600 off 10 cm board at 600 dpi (2362 × 2362)"
  [20cm]="4724 4724 600 off 20 cm board at 600 dpi (4724 × 4724)"
  [a4]="10200 14040 1200 off A4 at 1200 dpi, clean (10200 × 14040)"
  [a4-noisy]="10200 14040 1200 on A4 at 1200 dpi, noisy (10200 × 14040)"
  [a3-2400]="28080 39600 2400 on A3 at 2400 dpi, noisy (28080 × 39600)"
)

IFS=, read -r -a SIZE_LIST <<<"$SIZES"
KEPT_SIZES=()
for size in "${SIZE_LIST[@]}"; do
  [[ -n ${PICTURE[$size]:-} ]] || { echo "bench.sh: unknown size '$size'" >&2; exit 2; }
  read -r w h dpi noise _ <<<"${PICTURE[$size]}"
  file=$DATA/$size.bmp
  if [[ ! -f $file || $BOARDGEN -nt $file ]]; then
    # The picture plus its outputs and 1 GB to spare must fit on the disk.
    need=$(( (w * 3 + 3) / 4 * 4 * h + (1 << 30) ))
    free=$(( $(df -Pk "$DATA" | awk 'NR == 2 { print $4 }') * 1024 ))
    if (( free < need )); then
      log "skipping $size: it needs $((need >> 20)) MB of disk, $((free >> 20)) MB are free"
      NOTES_SKIPPED+=("- $size skipped: it needs $((need >> 20)) MB of disk, $((free >> 20)) MB were free.")
      continue
    fi
  fi
  KEPT_SIZES+=("$size")
  if [[ ! -f $file || $BOARDGEN -nt $file ]]; then
    log "generating $file"
    noiseFlag=--no-noise
    [[ $noise == on ]] && noiseFlag=--noise
    "$BOARDGEN" --width "$w" --height "$h" --dpi "$dpi" --seed 1 "$noiseFlag" "$file.tmp"
    mv "$file.tmp" "$file"
  fi
done
SIZE_LIST=("${KEPT_SIZES[@]}")

# --- Measuring -----------------------------------------------------------------------

# fcalc EXPR: floating-point arithmetic.
fcalc() { awk "BEGIN { printf \"%s\", ($1) }"; }

ROWS=()      # table rows
NOTES=("${NOTES_SKIPPED[@]}")  # lines under the table
PASSES=0
FAILS=0

# verdict VAR OK: sets VAR to "pass" or "**FAIL**" and counts it (no subshell, so the count stays).
verdict() {
  if [[ $2 == 1 ]]; then
    PASSES=$((PASSES + 1))
    printf -v "$1" '%s' "pass"
  else
    FAILS=$((FAILS + 1))
    printf -v "$1" '%s' "**FAIL**"
  fi
}

# measure RUNS WARMUPS CMD...: sets MEDIAN, MIN, RSS_KB, or FAILED.
measure() {
  local runs=$1 warmups=$2
  shift 2
  local line
  line=$("$BENCHRUN" -n "$runs" -w "$warmups" -- "$@" 2>>"$DATA/stderr.log") || true
  FAILED=""
  if [[ $line == failed* || -z $line ]]; then
    FAILED="failed (wait status ${line#failed }; see $DATA/stderr.log)"
    MEDIAN=0 MIN=0 RSS_KB=0
    return
  fi
  read -r MEDIAN MIN _ RSS_KB _ <<<"$line"
}

# row PICTURE CASE TIME_TARGET TIME_OK MEM_TARGET MEM_OK: one table row from the last measure.
row() {
  local picture=$1 what=$2 ttarget=$3 tok=$4 mtarget=$5 mok=$6
  if [[ -n $FAILED ]]; then
    ROWS+=("| $picture | $what | $FAILED | | | | | | | |")
    return
  fi
  local ms ratio mb
  ms=$(fcalc "sprintf(\"%.1f\", $MEDIAN * 1000)")
  ratio=$(fcalc "sprintf(\"%.2f\", $MEDIAN / $FLOOR_MEDIAN)")
  mb=$(fcalc "sprintf(\"%.0f\", $RSS_KB * 1024 / 1e6)")
  local tv="" mv=""
  [[ -n $tok ]] && verdict tv "$tok"
  [[ -n $mok ]] && verdict mv "$mok"
  ROWS+=("| $picture | $what | $ms | $(fcalc "sprintf(\"%.1f\", $MIN * 1000)") | ${ratio}× | $mb | $ttarget | $tv | $mtarget | $mv |")
}

le() { fcalc "($1) <= ($2) ? 1 : 0"; }

CPU=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
LOAD_START=$(cut -d' ' -f1 /proc/loadavg)
# Other work on the machine shows up directly in the medians.
if [[ $(fcalc "$LOAD_START > 0.5 ? 1 : 0") == 1 ]]; then
  log "note: load average $LOAD_START before the first run; the figures include what else runs"
fi
log "runs per case: $RUNS (A4: $A4_RUNS)"

for size in "${SIZE_LIST[@]}"; do
  read -r w h dpi noise label <<<"${PICTURE[$size]}"
  file=$DATA/$size.bmp
  runs=$RUNS
  warmups=1
  if [[ $size == a4* || $size == a3* ]]; then
    runs=$A4_RUNS
    warmups=0 # the floor's run below has brought the file into the page cache
  fi
  # One untimed floor run: warms the page cache and counts the copper runs.
  floorRuns=$("$FLOOR" "$file" $COPPER | awk '{ print $2 }')
  log "$size: floor"
  measure "$runs" 1 "$FLOOR" "$file" $COPPER
  FLOOR_MEDIAN=$MEDIAN
  row "$label" "floor: read + compare, 1 colour" "" "" "" ""
  if [[ -n $CLI_PROBLEM ]]; then
    ROWS+=("| $label | rastrace-cli | $CLI_PROBLEM | | | | | | | |")
    continue
  fi

  stride=$(( (w * 3 + 3) / 4 * 4 ))
  rasterBytes=$((stride * h))
  # Peak memory target: one copy of the pixels plus 10% and 16 MB.
  memLimitKb=$(fcalc "sprintf(\"%d\", ($rasterBytes * 1.1 + 16e6) / 1024)")
  memTarget="≤ $(fcalc "sprintf(\"%.0f\", $memLimitKb * 1024 / 1e6)") MB"
  common=(-q -x "$dpi" -y "$dpi")
  declare -A ONE=()
  for format in pcb asc; do
    FMT=${format^^}
    log "$size: rastrace-cli 1 colour $FMT"
    measure "$runs" "$warmups" "$CLI" "${common[@]}" -f "$format" -c $COPPER "$file" "$OUT/one.$format"
    ONE[$format]=${MEDIAN:-0}
    ttarget="" tok="" mtarget="" mok=""
    if [[ -z $FAILED && ( $size == a4* || $size == a3* ) ]]; then
      # The command line streams the picture: its memory does not grow
      # with the picture's size.
      mtarget="≤ 32 MB"
      mok=$(le "$RSS_KB" "32e6 / 1024")
      if [[ $format == pcb && $size == a3* ]]; then
        ttarget="≤ 0.8 s"
        tok=$(le "$MEDIAN" 0.8)
      elif [[ $format == pcb ]]; then
        ttarget="≤ 0.6× floor"
        tok=$(le "$MEDIAN" "0.6 * $FLOOR_MEDIAN")
      fi
    elif [[ -z $FAILED && $format == pcb && $size == 10cm ]]; then
      ttarget="≤ 25 ms"
      tok=$(le "$MEDIAN" 0.025)
    elif [[ -z $FAILED && $format == pcb && $size == 20cm ]]; then
      ttarget="≤ 100 ms"
      tok=$(le "$MEDIAN" 0.1)
    fi
    row "$label" "rastrace-cli, 1 colour, $FMT" "$ttarget" "$tok" "$mtarget" "$mok"
    if [[ -z $FAILED && $format == pcb ]]; then
      tracks=$(grep -c '^FT' "$OUT/one.pcb" || true)
      if [[ $tracks == "$floorRuns" ]]; then
        NOTES+=("- $label: rastrace-cli wrote $tracks tracks, the floor counted $floorRuns runs: they agree.")
      else
        NOTES+=("- $label: **rastrace-cli wrote $tracks tracks, the floor counted $floorRuns runs.**")
      fi
    fi
  done
  for format in pcb asc; do
    FMT=${format^^}
    log "$size: rastrace-cli 4 colours $FMT"
    measure "$runs" "$warmups" "$CLI" "${common[@]}" -f "$format" \
      -c $COPPER -c $COPPER2 -c $SILK_WHITE -c $SILK_YELLOW "$file" "$OUT/four.$format"
    ttarget="" tok="" mtarget="" mok=""
    if [[ -z $FAILED && ( $size == a4* || $size == a3* ) ]]; then
      if [[ ${ONE[$format]} != 0 ]]; then
        ttarget="≤ 1.3× 1 colour ($(fcalc "sprintf(\"%.2f\", $MEDIAN / ${ONE[$format]})")×)"
        tok=$(le "$MEDIAN" "1.3 * ${ONE[$format]}")
      fi
    fi
    row "$label" "rastrace-cli, 4 colours, $FMT" "$ttarget" "$tok" "$mtarget" "$mok"
  done
  log "$size: rastrace-cli --list-colors"
  measure "$runs" "$warmups" "$CLI" --list-colors "$file"
  ttarget="" tok=""
  if [[ -z $FAILED && ( $size == a4* || $size == a3* ) ]]; then
    # Colours are counted on the conversions' band pipeline.
    ttarget="≤ 0.6× floor"
    tok=$(le "$MEDIAN" "0.6 * $FLOOR_MEDIAN")
  fi
  row "$label" "rastrace-cli --list-colors (load only)" "$ttarget" "$tok" "" ""
  rm -f "$OUT"/*
done

# --- The window ------------------------------------------------------------------------

# The window on the clean A4 picture, driven by rastrace-window-bench on Qt's
# offscreen platform: Open against the command line's load (--list-colors), the
# peak memory of an Open against the raster, scrolling, and Convert against the
# command line's conversion. The tool needs a build with the window: build-dir
# when it is configured with RASTRACE_BUILD_UI=ON, otherwise the build named by
# the environment variable WINDOW_BUILD; its rastrace-cli gives the baselines,
# so both sides come from the same build.
if [[ ,$SIZES, == *,a4,* ]]; then
  read -r w h dpi noise label <<<"${PICTURE[a4]}"
  file=$DATA/a4.bmp
  WBUILD=${WINDOW_BUILD:-$BUILD}
  WINDOW_PROBLEM=""
  if [[ -n $CLI_PROBLEM ]]; then
    WINDOW_PROBLEM="no baseline: $CLI_PROBLEM"
  elif [[ ! -d $WBUILD ]] || ! grep -q '^RASTRACE_BUILD_UI:BOOL=ON' "$WBUILD/CMakeCache.txt" 2>/dev/null; then
    WINDOW_PROBLEM="rastrace-window-bench is not built: $WBUILD is not a build with the window (RASTRACE_BUILD_UI=ON, Qt 6); name one with WINDOW_BUILD=DIR"
  else
    WBUILD=$(cd "$WBUILD" && pwd)
    log "building rastrace-window-bench in $WBUILD"
    if ! make -C "$WBUILD" -j2 rastrace-window-bench rastrace-cli >"$DATA/build-window.log" 2>&1; then
      WINDOW_PROBLEM="rastrace-window-bench does not build (see $DATA/build-window.log)"
    fi
    WBUILD_TYPE=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$WBUILD/CMakeCache.txt")
    [[ $WBUILD_TYPE != Release ]] && log "WARNING: $WBUILD is a '${WBUILD_TYPE:-default}' build, not Release: the window's figures are not comparable"
  fi
  if [[ -n $WINDOW_PROBLEM ]]; then
    log "$WINDOW_PROBLEM: the window's rows are skipped"
    ROWS+=("| $label | window | $WINDOW_PROBLEM | | | | | | | |")
  else
    WBENCH=$WBUILD/ui/rastrace-window-bench
    WCLI=$WBUILD/rastrace-cli
    # The baselines, measured again next to the window: the floor for the
    # "× floor" column, the load (--list-colors) and the 1-colour PCB conversion.
    "$FLOOR" "$file" $COPPER >/dev/null
    log "a4: window baselines"
    measure "$A4_RUNS" 1 "$FLOOR" "$file" $COPPER
    FLOOR_MEDIAN=$MEDIAN
    measure "$A4_RUNS" 1 "$WCLI" --list-colors "$file"
    LOAD_FAILED=$FAILED LOAD_MEDIAN=$MEDIAN
    measure "$A4_RUNS" 1 "$WCLI" -q -x "$dpi" -y "$dpi" -f pcb -c $COPPER "$file" "$OUT/window-cli.pcb"
    CONVERT_FAILED=$FAILED CONVERT_MEDIAN=$MEDIAN
    log "a4: window"
    WINDOW_OUT=$DATA/window.txt
    FAILED=""
    if ! "$WBENCH" "$file" --colors $COPPER --xres "$dpi" --yres "$dpi" --format pcb --runs "$A4_RUNS" \
      --out "$OUT/window.pcb" >"$WINDOW_OUT" 2>>"$DATA/stderr.log"; then
      FAILED="failed (see $DATA/stderr.log and $WINDOW_OUT)"
    fi
    # wval KEY: the value of KEY=... in the tool's output, 0 when missing.
    wval() { local v; v=$(sed -n "s/^$1=//p" "$WINDOW_OUT" | head -1); echo "${v:-0}"; }
    rasterBytes=$(wval raster_bytes)
    [[ -z $FAILED && $rasterBytes == 0 ]] && FAILED="failed (no raster size in $WINDOW_OUT)"
    memLimitKb=$(fcalc "sprintf(\"%d\", $rasterBytes * 1.2 / 1024)")
    memTarget="≤ 1.2× raster, $(fcalc "sprintf(\"%.0f\", $rasterBytes * 1.2 / 1e6)") MB"

    # window_row CASE KEY PEAK_KEY BASE_FAILED BASE_MEDIAN BASE_NAME LIMIT WITH_MEMORY: one row from the
    # tool's output, KEY_ms_median against LIMIT × BASE_MEDIAN, and PEAK_KEY_kb against the raster when WITH_MEMORY is 1.
    window_row() {
      local what=$1 key=$2 peakKey=$3 baseFailed=$4 base=$5 baseName=$6 limit=$7 withMemory=$8
      MEDIAN=$(fcalc "$(wval "${key}_ms_median") / 1000")
      MIN=$(fcalc "$(wval "${key}_ms_min") / 1000")
      RSS_KB=$(wval "${peakKey}_kb")
      local ttarget="" tok="" mtarget="" mok=""
      if [[ -z $FAILED && -z $baseFailed ]]; then
        ttarget="≤ ${limit}× $baseName ($(fcalc "sprintf(\"%.0f\", $base * 1000)") ms: $(fcalc "sprintf(\"%.2f\", $MEDIAN / $base)")×)"
        tok=$(le "$MEDIAN" "$limit * $base")
      elif [[ -z $FAILED ]]; then
        ttarget="no baseline: $baseName $baseFailed"
      fi
      if [[ -z $FAILED && $withMemory == 1 ]]; then
        mtarget="$memTarget ($(fcalc "sprintf(\"%.2f\", $RSS_KB * 1024 / $rasterBytes)")×)"
        mok=$(le "$RSS_KB" "$memLimitKb")
      fi
      row "$label" "$what" "$ttarget" "$tok" "$mtarget" "$mok"
    }
    window_row "window: Open (read, show, first paint)" open open_peak "$LOAD_FAILED" "$LOAD_MEDIAN" \
      "--list-colors" 1.5 1
    if [[ -z $FAILED && $A4_RUNS -gt 1 ]]; then
      window_row "window: Open again while a picture is shown" reopen reopen_peak "$LOAD_FAILED" "$LOAD_MEDIAN" \
        "--list-colors" 1.5 1
    fi
    if [[ -z $FAILED ]]; then
      scrollMax=$(wval scroll_ms_max)
      verdict sv "$(le "$scrollMax" 50)"
      ROWS+=("| $label | window: scroll, $(wval scroll_steps) steps over both bars (per step) | $(wval scroll_ms_median) | $(wval scroll_ms_min) | | | no stall: every step ≤ 50 ms (max $scrollMax ms, $(wval scroll_stalls) over) | $sv | | |")
    fi
    window_row "window: Convert, 1 colour, PCB (click to notice)" convert convert_peak "$CONVERT_FAILED" \
      "$CONVERT_MEDIAN" "rastrace-cli, 1 colour, PCB" 1.3 0
    if [[ -z $FAILED ]]; then
      viewport=$(wval scroll_viewport)
      coreMs=$(wval convert_core_ms_median)
      coreText=""
      [[ $coreMs != 0 ]] && coreText=" The same conversion without the window, in the window's process: $coreMs ms (the window takes $(fcalc "sprintf(\"%.2f\", $(wval convert_ms_median) / $coreMs)")× that)."
      NOTES+=("- $label, window: rastrace-window-bench from $WBUILD on Qt's $(wval platform) platform, window 800 × 600 (picture area ${viewport/x/ × }); its baselines (floor, --list-colors, 1-colour PCB) were measured again just before it, with $WCLI. Each timed Open starts on warm memory, as the command line's back-to-back runs do.$coreText")
      if [[ -z $CONVERT_FAILED ]] && cmp -s "$OUT/window.pcb" "$OUT/window-cli.pcb"; then
        NOTES+=("- $label: the window's PCB file and rastrace-cli's are the same bytes.")
      elif [[ -z $CONVERT_FAILED ]]; then
        NOTES+=("- $label: **the window's PCB file differs from rastrace-cli's.**")
      fi
      [[ $(wval peak_reset) == 1 ]] \
        || NOTES+=("- $label, window: the peak could not be reset between steps; every peak is the process's peak so far.")
    fi
  fi
  rm -f "$OUT"/*
fi

# --- The window's whole board ---------------------------------------------------------

# The A4 pair at 1200 dpi from the two-sided scanner model, aligned in the
# window by rastrace-board-bench: the Align command to the overlay on screen,
# the longest the window did not answer meanwhile (target: 50 ms), and a click
# to its net drawn.
if [[ ,$SIZES, == *,a4,* && -z ${WINDOW_PROBLEM-x} ]]; then
  pair=$DATA/a4pair
  FAILED=""
  if ! make -C "$BUILD" -j2 rastrace-twosided >"$DATA/build-twosided.log" 2>&1 ||
     ! make -C "$WBUILD" -j2 rastrace-board-bench >>"$DATA/build-twosided.log" 2>&1; then
    FAILED="does not build (see $DATA/build-twosided.log)"
  elif ! "$BUILD/bench/rastrace-twosided" --seed 3 --dpi 1200 --width-mm 297 --height-mm 210 "$pair" \
      >/dev/null 2>>"$DATA/stderr.log" ||
     ! "$WBUILD/ui/rastrace-board-bench" "$pair" >"$DATA/board-window.txt" 2>>"$DATA/stderr.log"; then
    FAILED="failed (see $DATA/stderr.log)"
  fi
  if [[ -n $FAILED ]]; then
    ROWS+=("| A4 pair, 1200 dpi | window: whole board | $FAILED | | | | | | | |")
  else
    bval() { local v; v=$(sed -n "s/^$1=//p" "$DATA/board-window.txt" | head -1); echo "${v:-0}"; }
    stall=$(bval longest_stall_ms)
    verdict sv "$(le "$stall" 50)"
    ROWS+=("| A4 pair, 1200 dpi | window: Align to the overlay on screen ($(bval holes_matched) holes, $(bval nets) nets) | $(bval align_to_overlay_ms) | | | | no stall: ≤ 50 ms (longest $stall ms) | $sv | | |")
    ROWS+=("| A4 pair, 1200 dpi | window: a click to its net drawn, whole board / 100 % | $(bval click_to_net_fit_ms) / $(bval click_to_net_100_ms) | | | | | | | |")
  fi
  rm -rf "$pair"
fi

# --- Report ----------------------------------------------------------------------------

{
  echo "Benchmark: \`scripts/bench.sh${ARGS:+ ${ARGS[*]}}\`"
  echo
  echo "Machine: ${CPU:-unknown CPU}, $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GB", $2 / 1e6 }' /proc/meminfo); build: ${BUILD_TYPE:-default}; commit $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)$(git -C "$ROOT" diff --quiet HEAD -- 2>/dev/null || echo ' + local changes'); $(date -u '+%Y-%m-%d %H:%M UTC')."
  echo
  echo "Load average (1 min): $LOAD_START at the start, $(cut -d' ' -f1 /proc/loadavg) at the end."
  echo
  runsText="$RUNS runs"
  [[ $A4_RUNS != "$RUNS" ]] && runsText="$RUNS runs ($A4_RUNS for A4)"
  echo "Medians of $runsText, wall time of the whole process; peak memory is the process's maximum resident set. Colours: 1 = top copper $COPPER; 4 = both coppers and both silkscreen colours. Conversions write to a file at the picture's dpi."
  echo
  echo "| Picture | Run | Median (ms) | Min (ms) | × floor | Peak RSS (MB) | Time target | Time | Memory target | Memory |"
  echo "|---|---|---:|---:|---:|---:|---|---|---|---|"
  printf '%s\n' "${ROWS[@]}"
  echo
  [[ ${#NOTES[@]} -gt 0 ]] && printf '%s\n' "${NOTES[@]}" && echo
  echo "Targets: $PASSES met, $FAILS missed."
} | tee "$DATA/results.md"
