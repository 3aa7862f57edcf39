#!/usr/bin/env bash
# Throughput and peak memory of quorbel-cli against Info-ZIP unzip/zip and GNU tar, on the same
# inputs in one run. Usage, from the repository root:  bench/run_bench.sh [BUILD_DIR]   (default: build)
# Inputs are made in $QUORBEL_BENCH_DIR (kept for the next run) or in a temporary folder.
# Prints a table on stdout and exits 0 whether or not the goals are met.
set -euo pipefail

build=${1:-build}
cli=$build/cli/quorbel-cli
here=$(cd "$(dirname "$0")" && pwd)
if [[ ! -x $cli ]]; then
    echo "no $cli: build it first (cmake --build $build --target quorbel-cli)" >&2
    exit 2
fi
cli=$(cd "$(dirname "$cli")" && pwd)/quorbel-cli
for tool in unzip zip python3 /usr/bin/time; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is needed (packages unzip, zip, python3, time)" >&2
        exit 2
    fi
done

if [[ -n ${QUORBEL_BENCH_DIR:-} ]]; then
    work=$QUORBEL_BENCH_DIR
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
# Our settings, scratch folders and wastebasket (deleted members go there) stay inside the
# bench folder.
export QUORBEL_REGISTRY_DIR=$work/registry
export TMPDIR=$work/tmp
export XDG_DATA_HOME=$work/data
mkdir -p "$TMPDIR" "$XDG_DATA_HOME"

echo "inputs in $work (made once, fixed seed)..."
python3 "$here/make_inputs.py" "$work"

# best_of_3 NAME COMMAND...: the shortest elapsed time of three runs ($runs when set) and the
# largest peak resident size (kB) seen, left in $best and $peak. A folder named by $fresh is emptied before
# each run (extraction targets), and the command in $before (a string for sh) runs untimed first.
fresh=
before=
best_of_3() {
    local name=$1
    shift
    best=
    peak=0
    local i e m status
    for (( i = 0; i < ${runs:-3}; ++i )); do
        [[ -n $fresh ]] && rm -rf "$fresh"
        [[ -n $before ]] && sh -c "$before"
        status=0
        /usr/bin/time -f "%e %M" -o "$work/time.out" "$@" >/dev/null 2>"$work/err.out" || status=$?
        if [[ $status -ne 0 ]]; then
            echo "warning: $name exited with $status: $(head -c 200 "$work/err.out")" >&2
        fi
        read -r e m < <(tail -n 1 "$work/time.out")
        if [[ -z $best ]] || awk -v a="$e" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$e; fi
        if (( m > peak )); then peak=$m; fi
    done
}

# The memory goal of an archive: its largest member's packed + unpacked size, plus 64 MB (kB).
memory_goal_kb() {
    python3 - "$1" <<'EOF'
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
largest = max(i.compress_size + i.file_size for i in z.infolist())
print((largest + 64 * 1024 * 1024) // 1024)
EOF
}

rows=()
row() { rows+=("$(printf '%-24s %12s %12s %8s %8s %5s' "$@")"); }

# ratio OURS PEER GOAL -> "ratio goal met"
compare_time() {
    awk -v a="$1" -v b="$2" -v g="$3" 'BEGIN {
        if (b <= 0) b = 0.01
        r = a / b
        printf "%.2f <=%s %s", r, g, (r <= g ? "yes" : "NO")
    }'
}

sections=${QUORBEL_BENCH_SECTIONS:-read write window pictures search}
wants() { [[ " $sections " == *" $1 "* ]]; }

wants read && for archive in many big; do
    file=$work/$archive.zip

    best_of_3 "list $archive" "$cli" list "$file"
    ours=$best
    best_of_3 "unzip -l $archive" unzip -l "$file"
    peer=$best
    read -r ratio goal met <<<"$(compare_time "$ours" "$peer" 1.0)"
    row "list $archive.zip" "${ours} s" "${peer} s" "$ratio" "$goal" "$met"

    best_of_3 "test $archive" "$cli" test "$file"
    ours=$best
    test_peak=$peak
    best_of_3 "unzip -tq $archive" unzip -tq "$file"
    peer=$best
    read -r ratio goal met <<<"$(compare_time "$ours" "$peer" 0.5)"
    row "test $archive.zip" "${ours} s" "${peer} s" "$ratio" "$goal" "$met"

    fresh=$work/out-ours
    best_of_3 "extract $archive" "$cli" extract "$file" -d "$work/out-ours" --overwrite
    ours=$best
    extract_peak=$peak
    fresh=$work/out-peer
    best_of_3 "unzip -o $archive" unzip -q -o "$file" -d "$work/out-peer"
    peer=$best
    fresh=
    rm -rf "$work/out-ours" "$work/out-peer"
    ratio=$(awk -v a="$ours" -v b="$peer" 'BEGIN { if (b <= 0) b = 0.01; printf "%.2f", a / b }')
    row "extract $archive.zip" "${ours} s" "${peer} s" "$ratio" "-" "-"

    goal_kb=$(memory_goal_kb "$file")
    for what in test extract; do
        if [[ $what == test ]]; then kb=$test_peak; else kb=$extract_peak; fi
        met=$(( kb <= goal_kb ? 1 : 0 ))
        row "memory $what $archive.zip" "$((kb / 1024)) MB" "-" "-" "<=$((goal_kb / 1024))MB" \
            "$([[ $met == 1 ]] && echo yes || echo NO)"
    done
done

# The window program on the 100,000-member archive: open to a filled content view (against
# quorbel-cli list of the same archive), sorts, and the longest freeze of the event loop.
yes_no() { if [[ $1 == 1 ]]; then echo yes; else echo NO; fi; }
appbench=$build/bench/quorbel-app-bench
if wants window && [[ -x $appbench ]]; then
    best_of_3 "list many (for the window)" "$cli" list "$work/many.zip"
    list_s=$best
    best_open= ; best_name= ; best_size= ; worst_gap=0
    for (( i = 0; i < ${runs:-3}; ++i )); do
        XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen "$appbench" "$work/many.zip" \
            >"$work/app.out" 2>/dev/null
        declare -A fig=()
        while read -r k v; do fig[$k]=$v; done <"$work/app.out"
        (( ${fig[open_ms]} < ${best_open:-999999} )) && best_open=${fig[open_ms]}
        (( ${fig[sort_name_ms]} < ${best_name:-999999} )) && best_name=${fig[sort_name_ms]}
        (( ${fig[sort_size_ms]} < ${best_size:-999999} )) && best_size=${fig[sort_size_ms]}
        for g in ${fig[longest_gap_open_ms]} ${fig[longest_gap_sort_ms]}; do
            (( g > worst_gap )) && worst_gap=$g
        done
    done
    extra=$(awk -v o="$best_open" -v l="$list_s" 'BEGIN { printf "%.2f", o / 1000 - l }')
    row "window open many.zip" "${best_open} ms" "${list_s} s" "+${extra}s" "<=+1.0s" \
        "$(awk -v e="$extra" 'BEGIN { print (e <= 1.0 ? "yes" : "NO") }')"
    row "window sort by name" "${best_name} ms" "-" "-" "<=300ms" "$(yes_no $(( best_name <= 300 )))"
    row "window sort by size" "${best_size} ms" "-" "-" "<=300ms" "$(yes_no $(( best_size <= 300 )))"
    row "window longest freeze" "${worst_gap} ms" "-" "-" "<=200ms" "$(yes_no $(( worst_gap <= 200 )))"
fi

# Writing: adding a folder to a new archive (against zip -r), deleting one member and a tenth
# of the members (against zip -d), and extracting a tar archive (against tar -xf), on the
# members of big.zip (1 GB unpacked).
if wants write; then
    src=$work/src
    if [[ ! -d $src/big ]]; then
        rm -rf "$src" && mkdir -p "$src" && unzip -q "$work/big.zip" -d "$src"
    fi
    rm -f "$work/ours.zip" "$work/peer.zip"
    before="rm -f '$work/ours.zip'; sync"
    best_of_3 "add big" "$cli" add "$work/ours.zip" "$src/big"
    ours=$best
    before="rm -f '$work/peer.zip'; sync"
    best_of_3 "zip -r big" sh -c 'cd "$1" && zip -q -r "$2" big' _ "$src" "$work/peer.zip"
    peer=$best
    before=
    read -r ratio goal met <<<"$(compare_time "$ours" "$peer" 0.6)"
    row "add folder big" "${ours} s" "${peer} s" "$ratio" "$goal" "$met"
    size_ours=$(stat -c %s "$work/ours.zip")
    size_peer=$(stat -c %s "$work/peer.zip")
    size_ratio=$(awk -v a="$size_ours" -v b="$size_peer" 'BEGIN { printf "%.3f", a / b }')
    row "size of the archive" "$((size_ours / 1048576)) MB" "$((size_peer / 1048576)) MB" \
        "$size_ratio" "<=1.01" "$(awk -v r="$size_ratio" 'BEGIN { print (r <= 1.01 ? "yes" : "NO") }')"

    mapfile -t names < <(python3 - "$work/peer.zip" <<'PY'
import sys, zipfile
print("\n".join(i.filename for i in zipfile.ZipFile(sys.argv[1]).infolist() if not i.is_dir()))
PY
)
    # The copy to delete from is made untimed before each run, for both programs, and written
    # out so that neither run pays for the other's dirty pages.
    before="rm -rf '$work/doomed.old' '$XDG_DATA_HOME/Trash' && cp '$work/peer.zip' '$work/doomed.zip' && sync"
    # Writing a whole archive out to the disk varies a lot from run to run here: more runs.
    runs=5
    for what in one tenth; do
        if [[ $what == one ]]; then
            doomed=("${names[$(( ${#names[@]} / 2 ))]}")
        else
            doomed=()
            for (( i = 0; i < ${#names[@]}; i += 10 )); do doomed+=("${names[$i]}"); done
        fi
        best_of_3 "delete $what" "$cli" delete "$work/doomed.zip" "${doomed[@]}"
        ours=$best
        best_of_3 "zip -d $what" zip -q -d "$work/doomed.zip" "${doomed[@]}"
        peer=$best
        read -r ratio goal met <<<"$(compare_time "$ours" "$peer" 1.5)"
        row "delete $what member(s)" "${ours} s" "${peer} s" "$ratio" "$goal" "$met"
    done
    before=
    runs=
    rm -f "$work/doomed.zip" "$work/doomed.old"

    tar -cf "$work/big.tar" -C "$src" big
    fresh=$work/out-ours
    best_of_3 "extract tar" sh -c 'mkdir -p "$2" && "$0" extract "$1" -d "$2" --overwrite' "$cli" \
        "$work/big.tar" "$work/out-ours"
    ours=$best
    fresh=$work/out-peer
    best_of_3 "tar -xf" sh -c 'mkdir -p "$1" && tar -xf "$0" -C "$1"' "$work/big.tar" "$work/out-peer"
    peer=$best
    fresh=
    rm -rf "$work/out-ours" "$work/out-peer" "$work/big.tar"
    read -r ratio goal met <<<"$(compare_time "$ours" "$peer" 1.0)"
    row "extract big.tar" "${ours} s" "${peer} s" "$ratio" "$goal" "$met"
fi

# The pictures view of 1,000 BMP members of 1024 x 768 in the main window: time per thumbnail
# beyond unpacking the members (elapsed, and processor time, which a shared machine does not
# inflate), the longest freeze of the event loop, and how soon a Cancel is answered.
picbench=$build/bench/quorbel-pictures-bench
if wants pictures && [[ -x $picbench ]]; then
    python3 "$here/make_picture_inputs.py" "$work"
    XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen "$picbench" "$work/pictures.zip" \
        >"$work/pictures.out" 2>/dev/null
    declare -A pf=()
    while read -r k v; do pf[$k]=$v; done <"$work/pictures.out"
    under() { awk -v a="$1" -v g="$2" 'BEGIN { print (a <= g ? "yes" : "NO") }'; }
    row "thumbnail beyond unpack" "${pf[per_thumbnail_beyond_unpack_ms]} ms" "-" "-" "<=5ms" \
        "$(under "${pf[per_thumbnail_beyond_unpack_ms]}" 5)"
    row "  processor time" "${pf[per_thumbnail_cpu_beyond_unpack_ms]} ms" "-" "-" "<=5ms" \
        "$(under "${pf[per_thumbnail_cpu_beyond_unpack_ms]}" 5)"
    row "pictures longest freeze" "${pf[longest_gap_fill_ms]} ms" "-" "-" "<=100ms" \
        "$(under "${pf[longest_gap_fill_ms]}" 100)"
    row "pictures cancel answered" "${pf[cancel_answer_ms]} ms" "-" "-" "<=100ms" \
        "$(under "${pf[cancel_answer_ms]}" 100)"
    row "pictures cached refill" "${pf[refill_cached_ms]} ms" "-" "-" "-" "-"
# Search: a word in every member of big.zip (against unzip -p piped into grep -c), and a name
# pattern over the 100,000 members of many.zip, timed inside one process apart from opening.
searchbench=$build/bench/quorbel-search-bench
if wants search; then
    word=${QUORBEL_BENCH_WORD:-lazy}
    best_of_3 "search big for a word" "$cli" search "$work/big.zip" --text "$word" --columns 1
    ours=$best
    best_of_3 "unzip -p | grep -c" sh -c 'unzip -p "$0" | grep -c "$1"' "$work/big.zip" "$word"
    peer=$best
    read -r ratio goal met <<<"$(compare_time "$ours" "$peer" 1.0)"
    row "search big.zip \"$word\"" "${ours} s" "${peer} s" "$ratio" "$goal" "$met"
    # A word in no member: every byte of every member is scanned, by both.
    best_of_3 "search big for no word" "$cli" search "$work/big.zip" --text zyzzyva --columns 1
    ours=$best
    best_of_3 "unzip -p | grep -c (none)" sh -c 'unzip -p "$0" | grep -c "$1"; true' "$work/big.zip" zyzzyva
    peer=$best
    read -r ratio goal met <<<"$(compare_time "$ours" "$peer" 1.0)"
    row "search big.zip (absent)" "${ours} s" "${peer} s" "$ratio" "$goal" "$met"
    if [[ -x $searchbench ]]; then
        "$searchbench" "$work/many.zip" '*5.txt' >"$work/search.out"
        ms=$(awk '$1 == "search_ms" { print $2 }' "$work/search.out")
        row "name search many.zip" "${ms} ms" "-" "-" "<100ms" \
            "$(awk -v m="$ms" 'BEGIN { print (m < 100 ? "yes" : "NO") }')"
    fi
fi

members_many=$(python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))' "$work/many.zip")
members_big=$(python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))' "$work/big.zip")
echo
echo "many.zip: $members_many members, $(( $(stat -c %s "$work/many.zip") / 1048576 )) MB;" \
     "big.zip: $members_big entries, $(( $(stat -c %s "$work/big.zip") / 1048576 )) MB"
echo "times: best of 3 runs; memory: peak resident size (largest of the 3 runs);" \
     "ratio = quorbel-cli / peer (unzip, zip, tar or the window's own goal)"
echo
printf '%-24s %12s %12s %8s %8s %5s\n' "operation" "quorbel-cli" "peer" "ratio" "goal" "met"
printf '%s\n' "${rows[@]}"
exit 0
