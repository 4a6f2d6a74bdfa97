#!/bin/sh
# Builds what the QEMU cases boot, in KIT: Debian's kernel and its floppy and FAT modules
# (the package downloaded and unpacked once per build directory, never installed), and an
# initramfs with busybox, the guest test program, a statically linked vokta-cli and its /init.
# Usage: prepare_kit.sh KIT GUEST-PROGRAM CLI-PROGRAM INIT-SCRIPT
set -eu
kit=$1
guest=$2
cli=$3
init=$4
mkdir -p "$kit"

if [ ! -f "$kit/vmlinuz" ]; then
    work=$kit/download
    rm -rf "$work"
    mkdir -p "$work"
    package=$(apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n 1)
    if [ -z "$package" ]; then
        echo "apt knows no Debian kernel package (run apt-get update first)" >&2
        exit 1
    fi
    (cd "$work" && apt-get download "$package")
    dpkg-deb -x "$work"/*.deb "$work/root"
    modules=$(echo "$work"/root/lib/modules/*/kernel)
    mkdir -p "$kit/modules"
    for module in drivers/block/floppy fs/fat/fat fs/fat/msdos fs/nls/nls_cp437; do
        cp "$modules/$module.ko" "$kit/modules/"
    done
    echo "$package" >"$kit/kernel-package"
    cp "$work"/root/boot/vmlinuz-* "$kit/vmlinuz.part"
    mv "$kit/vmlinuz.part" "$kit/vmlinuz"
    rm -rf "$work"
fi

busybox=$(command -v busybox || true)
if [ -z "$busybox" ] || ldd "$busybox" >/dev/null 2>&1; then
    echo "a statically linked busybox is needed (Debian package busybox-static)" >&2
    exit 1
fi

root=$kit/initramfs
rm -rf "$root"
mkdir -p "$root/bin" "$root/lib/modules" "$root/dev" "$root/proc" "$root/sys" "$root/mnt" "$root/tmp"
cp "$busybox" "$root/bin/busybox"
cp "$guest" "$root/bin/vokta-guest"
cp "$cli" "$root/bin/vokta-cli"
cp "$init" "$root/init"
chmod 755 "$root/init"
cp "$kit"/modules/*.ko "$root/lib/modules/"
(cd "$root" && find . | "$busybox" cpio -o -H newc 2>/dev/null) | gzip -1 >"$kit/initramfs.part"
mv "$kit/initramfs.part" "$kit/initramfs.cpio.gz"
rm -rf "$root"
echo "kit ready: $(cat "$kit/kernel-package")"
