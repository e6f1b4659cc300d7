#!/usr/bin/env bash
# Builds the benchmark images into OUTDIR, each only when it is missing or
# was built with other sizes (a .params file beside each image says which).
#
#   make-images.sh OUTDIR BENCH NTFSGEN FAT_MIB FAT_FILES FAT_FOLDERS \
#                  NTFS_MIB NTFS_FILES NTFS_FOLDERS DISK_MIB DEEP_MIB PACKED_MIB \
#                  [FOLDER_FILES] ["N N ..."]
#
# fat32.img      FAT32, FAT_FILES files in FAT_FOLDERS folders, a quarter deleted
# ntfs.img       NTFS, NTFS_FILES files in NTFS_FOLDERS folders, a quarter deleted
# disk.img       MBR disk of DISK_MIB: fat32.img and ntfs.img as its two partitions
# deep.img       DEEP_MIB disk holding the same volumes with its table cleared
# compressed.img NTFS holding one LZNT1-compressed file of PACKED_MIB
#                (compressed.runs: its record, size, cluster size and runs)
# folder10k.img  FAT32 with one folder of FOLDER_FILES files (10,000 unless
#                given): the window's largest list
# scale-N.img    MBR disk whose one partition (1 MiB in) is an NTFS volume of
#                N files of 0 to 512 bytes in folders of 40, a quarter deleted;
#                about 2.4 KiB of volume per file
# Image files are sparse: unwritten space costs no disk.
set -euo pipefail
out=$1 bench=$2 ntfsgen=$3
fat_mib=$4 fat_files=$5 fat_folders=$6 ntfs_mib=$7 ntfs_files=$8 ntfs_folders=$9
disk_mib=${10} deep_mib=${11} packed_mib=${12} folder_files=${13:-10000} scale=${14:-}
mkdir -p "$out"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 TZ=UTC NO_FAKE_STAT=1
clock='2024-03-15 10:20:30'

fresh() {  # image params: true when the image exists with these params, newer than its makers
  [ -s "$out/$1" ] && [ -e "$out/$1.params" ] && [ "$(cat "$out/$1.params")" = "$2" ] &&
    [ "$out/$1" -nt "$ntfsgen" ] && [ "$out/$1" -nt "$0" ]
}
done_with() { echo "$2" >"$out/$1.params"; }

params="$fat_mib $fat_files $fat_folders"
if ! fresh fat32.img "$params"; then
  echo "building fat32.img ($fat_mib MiB, $fat_files files in $fat_folders folders)"
  tree=$(mktemp -d)
  trap 'rm -rf "$tree"' EXIT
  "$bench" tree "$tree" "$fat_files" "$fat_folders"
  find "$tree" -exec touch -d '2023-07-01 08:30:00' {} +
  rm -f "$out/fat32.img"
  # Clusters of 4 KiB where FAT32 allows them (at least 65525 clusters),
  # of one sector on the small volumes of the smoke run.
  spc=8; [ "$fat_mib" -ge 300 ] || spc=1
  mkfs.fat -F 32 -S 512 -s $spc -i 0BE1C4ED -n BENCH --invariant -g 255/63 -C "$out/fat32.img" \
    $((fat_mib * 1024)) >/dev/null
  # One mcopy of the whole tree: mtools walks it itself.
  faketime "$clock" mcopy -s -m -i "$out/fat32.img" "$tree"/* ::/
  # Every fourth file deleted, all in one mdel.
  d=0  # the folder of file f: never goes back as f grows
  for ((f = 3; f < fat_files; f += 4)); do
    while (( fat_files * (d + 1) / fat_folders <= f )); do d=$((d + 1)); done
    printf '::/Folder %03d/Document %05d.bin\0' "$d" "$f"
  done | xargs -0 faketime "$clock" mdel -i "$out/fat32.img"
  rm -rf "$tree"
  trap - EXIT
  done_with fat32.img "$params"
fi

params="$ntfs_mib $ntfs_files $ntfs_folders"
if ! fresh ntfs.img "$params"; then
  echo "building ntfs.img ($ntfs_mib MiB, $ntfs_files files in $ntfs_folders folders)"
  rm -f "$out/ntfs.img"
  truncate -s "${ntfs_mib}M" "$out/ntfs.img"
  mkntfs -q -F -Q -T -c 4096 -L BENCH "$out/ntfs.img" >/dev/null 2>&1
  faketime -f '2020-01-01 00:00:00 x0' "$ntfsgen" files "$out/ntfs.img" "$ntfs_files" "$ntfs_folders" \
    2> >(grep -v 'inode cache entry' >&2)
  done_with ntfs.img "$params"
fi

fat_bytes=$(stat -c %s "$out/fat32.img") ntfs_bytes=$(stat -c %s "$out/ntfs.img")
# Partition 1 at 1 MiB, partition 2 right after it (sectors of 512 bytes).
p1=2048 p1n=$((fat_bytes / 512)) p2=$((2048 + (fat_bytes / 512 + 2047) / 2048 * 2048)) p2n=$((ntfs_bytes / 512))
disk() {  # image MiB
  rm -f "$out/$1"
  truncate -s "${2}M" "$out/$1"
  printf 'label: dos\nlabel-id: 0x0be1c4ed\n%s : start=%d, size=%d, type=c\n%s : start=%d, size=%d, type=7\n' \
    "$out/$1" $p1 $p1n "$out/$1" $p2 $p2n | sfdisk --no-reread --no-tell-kernel -q "$out/$1" >/dev/null
  dd if="$out/fat32.img" of="$out/$1" bs=1M seek=$((p1 * 512)) oflag=seek_bytes conv=notrunc,sparse status=none
  dd if="$out/ntfs.img" of="$out/$1" bs=1M seek=$((p2 * 512)) oflag=seek_bytes conv=notrunc,sparse status=none
}
params="$disk_mib $(cat "$out/fat32.img.params") $(cat "$out/ntfs.img.params")"
if ! fresh disk.img "$params"; then
  echo "building disk.img ($disk_mib MiB)"
  disk disk.img "$disk_mib"
  done_with disk.img "$params"
fi
params="$deep_mib $(cat "$out/fat32.img.params") $(cat "$out/ntfs.img.params")"
if ! fresh deep.img "$params"; then
  echo "building deep.img ($deep_mib MiB)"
  disk deep.img "$deep_mib"
  # Both table entries gone: only a scan of the sectors finds the volumes.
  dd if=/dev/zero of="$out/deep.img" bs=1 seek=$((0x1BE)) count=32 conv=notrunc status=none
  done_with deep.img "$params"
fi

params="$packed_mib"
if ! fresh compressed.img "$params"; then
  echo "building compressed.img ($packed_mib MiB file)"
  rm -f "$out/compressed.img"
  truncate -s "$((packed_mib * 3 / 4 + 16))M" "$out/compressed.img"
  mkntfs -q -F -Q -T -c 4096 -L PACKED "$out/compressed.img" >/dev/null 2>&1
  faketime -f '2020-01-01 00:00:00 x0' "$ntfsgen" compressed "$out/compressed.img" "$packed_mib" \
    >"$out/compressed.runs" 2> >(grep -v 'inode cache entry' >&2)
  done_with compressed.img "$params"
fi

params="$folder_files"
if ! fresh folder10k.img "$params"; then
  echo "building folder10k.img ($folder_files files in one folder)"
  tree=$(mktemp -d)
  trap 'rm -rf "$tree"' EXIT
  "$bench" tree "$tree" "$folder_files" 1
  # Short names: mtools would spend minutes making 10,000 unique short
  # names for long ones of one pattern.
  (cd "$tree/Folder 000" && for f in Document*.bin; do n=${f#Document }; mv "$f" "D${n%.bin}.BIN"; done)
  find "$tree" -exec touch -d '2023-07-01 08:30:00' {} +
  rm -f "$out/folder10k.img"
  # FAT32 with clusters of 4 KiB: the folder's 10,000 names fit in its
  # chain of at most 512 clusters. The files average 16 KiB.
  mkfs.fat -F 32 -S 512 -s 8 -i 0F01D10C -n FOLDER --invariant -g 255/63 -C "$out/folder10k.img" \
    $(( (folder_files * 20 / 1024 + 300) * 1024 )) >/dev/null
  faketime "$clock" mcopy -s -m -i "$out/folder10k.img" "$tree"/* ::/
  rm -rf "$tree"
  trap - EXIT
  done_with folder10k.img "$params"
fi

for n in $scale; do
  params="$n"
  fresh "scale-$n.img" "$params" && continue
  echo "building scale-$n.img ($n files)"
  vol=$out/scale-$n.volume
  mib=$(( (n * 48 + 19999) / 20000 )); [ $mib -ge 8 ] || mib=8
  rm -f "$vol" "$out/scale-$n.img"
  truncate -s "${mib}M" "$vol"
  mkntfs -q -F -Q -T -c 4096 -L SCALE "$vol" >/dev/null 2>&1
  faketime -f '2020-01-01 00:00:00 x0' "$ntfsgen" files "$vol" "$n" $(( (n + 39) / 40 )) 512 \
    2> >(grep -v 'inode cache entry' >&2)
  truncate -s "$((mib + 1))M" "$out/scale-$n.img"
  printf 'label: dos\nlabel-id: 0x5ca1e000\n%s : start=2048, size=%d, type=7\n' "$out/scale-$n.img" $((mib * 2048)) |
    sfdisk --no-reread --no-tell-kernel -q "$out/scale-$n.img" >/dev/null
  dd if="$vol" of="$out/scale-$n.img" bs=1M seek=1 conv=notrunc,sparse status=none
  rm -f "$vol"
  done_with "scale-$n.img" "$params"
done
