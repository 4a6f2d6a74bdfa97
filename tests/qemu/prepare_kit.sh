#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds what the QEMU cases boot, in KIT: Debian's kernel and its floppy, FAT and USB mass
# storage modules (the package downloaded and unpacked once per build directory, never
# installed; a kit without the last module of the list is made again), and an
# initramfs with busybox, the guest test program, a statically linked vokta-cli and its /init.
# Usage: prepare_kit.sh KIT GUEST-PROGRAM CLI-PROGRAM INIT-SCRIPT
set -eu
kit=$1
guest=$2
cli=$3
init=$4
mkdir -p "$kit"

# The modules the guest loads, in the order /init loads them: each after those it depends on
# (modinfo -F depends). A USB floppy drive is a SCSI disk behind usb-storage, on QEMU's xHCI
# controller; sd_mod's protection-information helpers want the CRC modules and their
# generic implementations.
modules_in_order="drivers/block/floppy fs/fat/fat fs/fat/msdos fs/nls/nls_cp437
    drivers/usb/common/usb-common drivers/usb/core/usbcore drivers/usb/host/xhci-hcd drivers/usb/host/xhci-pci
    drivers/scsi/scsi_common drivers/scsi/scsi_mod drivers/usb/storage/usb-storage
    crypto/crct10dif_common crypto/crct10dif_generic lib/crc-t10dif lib/crc64 crypto/crc64_rocksoft_generic
    lib/crc64-rocksoft block/t10-pi drivers/scsi/sd_mod"

if [ ! -f "$kit/vmlinuz" ] || [ ! -f "$kit/modules/sd_mod.ko" ]; then
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
    rm -rf "$kit/modules"
    mkdir -p "$kit/modules"
    for module in $modules_in_order; do
        cp "$modules/$module.ko" "$kit/modules/"
        echo "${module##*/}" >>"$kit/modules/order"
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
cp "$kit"/modules/*.ko "$kit/modules/order" "$root/lib/modules/"
(cd "$root" && find . | "$busybox" cpio -o -H newc 2>/dev/null) | gzip -1 >"$kit/initramfs.part"
mv "$kit/initramfs.part" "$kit/initramfs.cpio.gz"
rm -rf "$root"
echo "kit ready: $(cat "$kit/kernel-package")"
