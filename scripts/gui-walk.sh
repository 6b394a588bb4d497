#!/usr/bin/env bash
# Walks the resource tree of real programs in the window program under Xvfb, as a user skimming a
# file with the keyboard: keys from the moment the program starts (a box during the import gets
# them too), a key every 50 ms (Down; in every other run Right as every third key, which opens the
# types; Escape as every tenth), then File > Exit. Every run's exit status is printed; a run that
# aborts keeps its core file and its sanitizer logs under the output folder.
#   scripts/gui-walk.sh PROGRAM RUNS [OUTPUT_FOLDER]
# PROGRAM is a kestrel-gui, ideally of a sanitizer build (build/asan). The X server runs on display
# :58 as most scripts start one, without -noreset: it resets whenever its last client leaves, and
# the next program to connect may then be refused. Needs Xvfb and xdotool; the files come from the
# corpus (tests/corpus/fetch).
set -uo pipefail
program=$(realpath "$1")
runs=$2
output=${3:-/tmp/kestrel-gui-walk}
corpus=${KESTREL_CORPUS_CACHE:-$HOME/.cache/kestrel-corpus}/root/usr/lib/i386-linux-gnu/wine/i386-windows
files=(notepad.exe comdlg32.dll kernelbase.dll regedit.exe winecfg.exe comctl32.dll shell32.dll taskmgr.exe
    wordpad.exe)
keys=120
export DISPLAY=:58
mkdir -p "$output"

if ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >"$output/xvfb.log" 2>&1 &
    server=$!
    trap 'kill $server' EXIT
    sleep 1
fi
# libdbus (the accessibility bus) leaves one allocation at exit that is not ours. Loading libjpeg at
# start gives it static TLS, which clang 14's leak check reads correctly at exit.
printf 'leak:libdbus-1.so\n' >"$output/lsan.supp"
jpeg=$(ls /usr/lib/x86_64-linux-gnu/libjpeg.so.62 2>/dev/null || true)
ulimit -c unlimited

walk() {
    local file=$1 run=$2 pattern=$3 folder=$4
    mkdir -p "$folder"
    (
        cd "$folder" || exit
        export XDG_CONFIG_HOME=$output/home/config XDG_DATA_HOME=$output/home/data
        export LSAN_OPTIONS="suppressions=$output/lsan.supp"
        export ASAN_OPTIONS="abort_on_error=1:disable_coredump=0:unmap_shadow_on_exit=1:log_path=$folder/asan"
        export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:abort_on_error=1:log_path=$folder/ubsan"
        LC_ALL=C.UTF-8 LD_PRELOAD=$jpeg exec "$program" "$file" >"$folder/stdout" 2>"$folder/stderr"
    ) &
    local pid=$! window="" sent=0 key now
    while [ $sent -lt $keys ] && kill -0 $pid 2>/dev/null; do
        # The newest window of the program has the focus, as a window manager would give it.
        now=$(xdotool search --onlyvisible --pid $pid 2>/dev/null | tail -1)
        if [ -n "$now" ] && [ "$now" != "$window" ]; then
            window=$now
            xdotool windowfocus "$window" 2>/dev/null
        fi
        sent=$((sent + 1))
        key=Down
        if [ $((sent % 10)) -eq 0 ]; then
            key=Escape
        elif [ "$pattern" = right ] && [ $((sent % 3)) -eq 0 ]; then
            key=Right
        fi
        xdotool key $key 2>/dev/null
        sleep 0.05
    done
    if kill -0 $pid 2>/dev/null; then
        xdotool key alt+f 2>/dev/null
        sleep 0.3
        xdotool key x 2>/dev/null
    fi
    for _ in $(seq 1 100); do
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    kill -0 $pid 2>/dev/null && kill -KILL $pid
    wait $pid
    echo "run $run $(basename "$file"): exit status $? after $sent keys"
}

for run in $(seq 1 "$runs"); do
    name=${files[$(((run - 1) % ${#files[@]}))]}
    [ -f "$corpus/$name" ] || continue
    pattern=down
    [ $((run % 2)) -eq 0 ] && pattern=right
    walk "$corpus/$name" "$run" $pattern "$output/run-$run"
done
