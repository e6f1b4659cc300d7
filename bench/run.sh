#!/usr/bin/env bash
# The benchmark suite: builds the programs and images, installs the peers
# when they are missing, and runs every workload.
#
#   bench/run.sh [--smoke] [--runs N] [--out DIR] [--fat-mib N] [--fat-files N]
#                [--fat-folders N] [--ntfs-mib N] [--ntfs-files N]
#                [--ntfs-folders N] [--disk-mib N] [--deep-mib N] [--packed-mib N]
#                [--folder-files N] [--only TEXT] [--scale "N N ..."]
#
# --smoke builds tiny images and runs each workload once (a check that the
# suite works, nothing timed). --scale sets the files of the scale series'
# volumes ("" leaves the series out). Images live in build/bench-images
# (kept between runs), results in build/bench-results (bench.txt, bench.tsv).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTREL_BUILD_DIR:-$root/build}
smoke=0 runs=5 out= only=
fat_mib=1024 fat_files=20000 fat_folders=500
ntfs_mib=512 ntfs_files=20000 ntfs_folders=500
disk_mib=2048 deep_mib=4096 packed_mib=256 folder_files=10000
scale="20000 200000 1000000"
while [ $# -gt 0 ]; do
  case $1 in
    --smoke) smoke=1 runs=1 fat_mib=40 fat_files=200 fat_folders=10 ntfs_mib=16 ntfs_files=200 \
             ntfs_folders=10 disk_mib=64 deep_mib=64 packed_mib=4 folder_files=200 scale=2000 ;;
    --runs) runs=$2; shift ;;
    --out) out=$2; shift ;;
    --fat-mib) fat_mib=$2; shift ;;
    --fat-files) fat_files=$2; shift ;;
    --fat-folders) fat_folders=$2; shift ;;
    --ntfs-mib) ntfs_mib=$2; shift ;;
    --ntfs-files) ntfs_files=$2; shift ;;
    --ntfs-folders) ntfs_folders=$2; shift ;;
    --disk-mib) disk_mib=$2; shift ;;
    --deep-mib) deep_mib=$2; shift ;;
    --packed-mib) packed_mib=$2; shift ;;
    --folder-files) folder_files=$2; shift ;;
    --only) only=$2; shift ;;
    --scale) scale=$2; shift ;;
    -h|--help) sed -n '2,13p' "$0" | cut -c3-; exit 0 ;;
    *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
kind=$([ $smoke = 1 ] && echo smoke || echo full)
images=$build/bench-images/$kind
out=${out:-$build/bench-results/$kind}
mkdir -p "$images" "$out"

# The peers: installed when missing; without apt (or its rights) their
# columns stay empty.
if ! command -v fls >/dev/null || ! command -v tsk_recover >/dev/null || ! command -v testdisk >/dev/null; then
  sudo=; [ "$(id -u)" = 0 ] || sudo="sudo -n"
  if command -v apt-get >/dev/null; then
    DEBIAN_FRONTEND=noninteractive timeout 300 $sudo apt-get install -y -q --no-install-recommends \
      sleuthkit testdisk >/dev/null 2>&1 ||
      echo "run.sh: could not install sleuthkit/testdisk; their columns stay empty" >&2
  fi
fi

if [ ! -e "$build/build.ninja" ] && [ ! -e "$build/Makefile" ]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" --target vantrel-bench >/dev/null
bench=$build/bench/vantrel-bench
ntfsgen=$build/bench-images/ntfs-bench-volume
if [ ! -x "$ntfsgen" ] || [ "$root/bench/ntfs-bench-volume.c" -nt "$ntfsgen" ]; then
  cc -O2 -Wall -o "$ntfsgen" "$root/bench/ntfs-bench-volume.c" -lntfs-3g
fi

bash "$root/bench/make-images.sh" "$images" "$bench" "$ntfsgen" "$fat_mib" "$fat_files" "$fat_folders" \
  "$ntfs_mib" "$ntfs_files" "$ntfs_folders" "$disk_mib" "$deep_mib" "$packed_mib" "$folder_files" "$scale"

args=(run "$images" "$out" "$runs")
[ $smoke = 1 ] && args+=(--smoke)
[ -n "$only" ] && args+=(--only "$only")
[ -n "$scale" ] && args+=(--scale "$(echo $scale | tr ' ' ',')")
"$bench" "${args[@]}"
echo "results: $out/bench.txt, $out/bench.tsv"
