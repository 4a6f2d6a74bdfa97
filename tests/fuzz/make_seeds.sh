#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Seed corpora for the fuzz targets, made from diskettes that the FAT tools make and fill:
#   make_seeds.sh OUT   -> OUT/boot OUT/fat OUT/info OUT/imd OUT/diskfile OUT/mfm OUT/gwstream
#   OUT/rescuemap
# Diskette seeds for fat/info are a 4-byte header (media index 0..4 = 720K, 1.2M, 1.44M,
# 1.68M, 1.72M; a defect's cylinder and place, 0 = none; a seed) and the image cut short
# behind its directories.
set -eu
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out/boot" "$out/fat" "$out/info" "$out/imd" "$out/diskfile" "$out/mfm" "$out/gwstream" "$out/rescuemap"
export MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1

# A small tree: files of one to several clusters, nested folders, a label.
fill() {
    printf 'hello\r\n' > "$work/a.txt"
    head -c 3000 /dev/zero | tr '\0' 'x' > "$work/b.dat"
    seq 1 2000 > "$work/c.txt"
    mmd -i "$1" ::/DIR ::/DIR/SUB
    mcopy -i "$1" "$work/a.txt" "$work/b.dat" ::/
    mcopy -i "$1" "$work/c.txt" ::/DIR/
    mcopy -i "$1" "$work/a.txt" ::/DIR/SUB/
    mlabel -i "$1" ::SEED
}

# name index cylinders sectors-per-track
for spec in "d720 0 80 9" "d1200 1 80 15" "d1440 2 80 18" "d1680 3 80 21" "d1720 4 82 21"; do
    set -- $spec
    img="$work/$1.img"
    mformat -C -i "$img" -t "$3" -h 2 -s "$4" ::
    fill "$img"
    head -c 512 "$img" > "$out/boot/$1"
    cut="$work/$1.cut"
    head -c 40960 "$img" > "$cut"
    printf "\\00$2\\000\\000\\052" | cat - "$cut" > "$out/fat/$1"
    printf "\\00$2\\012\\003\\007" | cat - "$cut" > "$out/fat/$1-defect"
    cp "$out/fat/$1" "$out/info/$1"
    printf "\\00$2\\000\\001\\000" | cat - "$cut" > "$out/info/$1-bootdefect"
    # Stretched by the target to the diskette's full size.
    { head -c 512 "$img"; printf "\\36$(($2 + 1))"; } > "$out/diskfile/$1"
done

# The other FAT tool's diskettes: its boot sector and FAT differ in the details.
mkfs.fat -C "$work/m1440.img" 1440 > /dev/null
fill "$work/m1440.img"
head -c 512 "$work/m1440.img" > "$out/boot/mkfs1440"
{ printf '\002\000\000\001'; head -c 40960 "$work/m1440.img"; } > "$out/fat/mkfs1440"

# ImageDisk files of the same diskettes, where libdsk's converter is at hand.
if command -v dsktrans > /dev/null; then
    for pair in "d720 ibm720" "d1200 ibm1200" "d1440 ibm1440"; do
        set -- $pair
        dsktrans -itype raw -otype imd -format "$2" "$work/$1.img" "$out/imd/$1.imd" > /dev/null 2>&1 || true
        [ -s "$out/imd/$1.imd" ] && cp "$out/imd/$1.imd" "$out/diskfile/$1.imd"
        # The first cylinders alone: small files, many runs a second.
        dsktrans -itype raw -otype imd -format "$2" -last 2 "$work/$1.img" "$out/imd/$1-short.imd" > /dev/null 2>&1 || true
    done
fi
# Flux: each format's track undisturbed and with one transition moved; bytes as flux.
for medium in 0 1 2 3 4; do
    printf "\\00$medium\\003\\101" > "$out/mfm/track$medium"
    printf "\\02$medium\\005\\300\\001\\000\\220" > "$out/mfm/moved$medium"
done
seq 1 3000 | tr -d '\n' | head -c 6000 | { printf '\012\002\001'; cat; } > "$out/mfm/bytes"
# Greaseweazle flux streams: one-byte intervals, and a two-byte one; the kept regression
# inputs hold the escapes.
printf '\060\100\120\000' > "$out/gwstream/short"
printf '\372\001\060\375\377\000' > "$out/gwstream/long"
exit 0

# Rescue maps of 1.44M diskettes (2880 sectors: the size bytes 0x40 0x0B), as a rescue
# leaves them and as ddrescue writes them, with sizes that split sectors.
printf '\100\013# Mapfile\n# current_pos  current_status  current_pass\n0x00000000     ?               1\n#      pos        size  status\n0x00000000  0x00168000  +\n' > "$out/rescuemap/finished"
printf '\100\0130x00004800 / 2\n0x00000000 0x00004600 +\n0x00004600 0x00000200 -\n0x00004800 0x00000900 /\n0x00005100 0x00001300 *\n0x00006400 0x00161C00 ?\n' > "$out/rescuemap/passes"
printf '\100\0130 +\n0 1000 +\n1000 24 -\n1024 473088 ?\n' > "$out/rescuemap/decimal"
