#!/usr/bin/env bash
# Signing against hashing, in one run: `kestrel /Sign` of shell32.dll (read the file, compute its
# Authenticode SHA-256 digest, sign, write the signed copy) against `sha256sum` of the same file,
# which only reads it and computes one SHA-256. Both run from tmpfs when there is one, several
# times, and the medians are compared. Benchmarks are not tests: nothing here fails a build.
#
#   bench/sign_file.sh KESTREL_PROGRAM [FILE] [RUNS]
# Default file: shell32.dll of the corpus (tests/corpus/fetch). The test key and certificate are
# made with openssl for the run.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kestrel=${1:?usage: sign_file.sh KESTREL_PROGRAM [FILE] [RUNS]}
file=${2:-}
runs=${3:-15}
if [ -z "$file" ]; then
    corpus=$("$here/../tests/corpus/fetch" | tail -n 1) || exit 1
    file="$corpus/usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll"
fi
base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/kestrel-sign-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$file" "$work/input.dll"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=Kestrel Bench" >/dev/null 2>&1 || { echo "openssl could not make a key" >&2; exit 1; }

# Wall-clock seconds of one run of the command, in nanoseconds.
time_one() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s%N)
    echo $((end - start))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

sign_times=() hash_times=()
for ((i = 0; i < runs; i++)); do
    # Alternating, so that both see the same state of the machine.
    hash_times+=("$(time_one sha256sum "$work/input.dll")")
    sign_times+=("$(time_one "$kestrel" /Sign "/Output:$work/signed.dll" "$work/input.dll" \
        --cert "$work/cert.pem" --key "$work/key.pem")")
done
hash=$(printf '%s\n' "${hash_times[@]}" | median)
sign=$(printf '%s\n' "${sign_times[@]}" | median)
size=$(stat -c %s "$work/input.dll")
printf '%-34s %10s\n' "file" "$(basename "$file") ($size bytes)"
printf '%-34s %10.1f ms\n' "sha256sum (read + one SHA-256)" "$(awk -v n="$hash" 'BEGIN { print n / 1e6 }')"
printf '%-34s %10.1f ms\n' "kestrel /Sign (SHA-256, RSA 2048)" "$(awk -v n="$sign" 'BEGIN { print n / 1e6 }')"
printf '%-34s %10.2f (goal <= 1.30)\n' "ratio sign / sha256sum" "$(awk -v a="$sign" -v b="$hash" 'BEGIN { print a / b }')"
