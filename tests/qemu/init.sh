#!/bin/busybox sh
# SPDX-License-Identifier: GPL-3.0-or-later
# /init of the QEMU guest: loads the floppy driver, the FAT modules and the USB mass storage
# stack, runs what the host named on the kernel command line, reports how it ended and
# powers the machine off.
# The host names either guest cases (vokta.cases=FILTER) or vokta-cli command lines, run one
# after the other (vokta.cli=LINE/LINE/...: each LINE is xHEX,xHEX,..., each argument in hex
# behind an "x", so that an empty argument, a blank or a comma in one survives the kernel
# command line). With vokta.usbdisks=N the guest first waits for its N USB disks.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /lib/modules/order); do
    insmod /lib/modules/$module.ko || echo "vokta-guest-module-failed $module"
done

# usb-storage finds its disks a while after its module is in: up to 30 s for all of them.
usbdisks=$(sed -n 's/.*vokta\.usbdisks=\([0-9]*\).*/\1/p' /proc/cmdline)
if [ -n "$usbdisks" ]; then
    tries=0
    while [ "$(ls -d /sys/block/sd* 2>/dev/null | wc -l)" -lt "$usbdisks" ] && [ $tries -lt 300 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    for disk in /sys/block/sd*; do
        [ -e "$disk" ] && echo "vokta-guest-usb-disk ${disk##*/}"
    done
fi
# With vokta.mount=DISK that disk's FAT file system is mounted read-only on /mnt.
mount=$(sed -n 's/.*vokta\.mount=\([a-z0-9]*\).*/\1/p' /proc/cmdline)
if [ -n "$mount" ]; then
    mount -t msdos -o ro "/dev/$mount" /mnt || echo "vokta-guest-mount-failed $mount"
fi

# Runs vokta-cli command line number $2 with the encoded arguments $1, nothing on its stdin,
# and reports its stdout and stderr as hex lines: the console turns line ends into CR LF and
# would lose bytes.
run_cli() {
    words=$1
    set --
    IFS=,
    for word in $words; do
        set -- "$@" "$(printf "$(echo "${word#x}" | sed 's/../\\x&/g')")"
    done
    unset IFS
    /bin/vokta-cli "$@" </dev/null >/tmp/stdout 2>/tmp/stderr
    status=$?
    od -An -v -tx1 /tmp/stdout | sed "s/^/vokta-cli-$line-stdout /"
    od -An -v -tx1 /tmp/stderr | sed "s/^/vokta-cli-$line-stderr /"
    echo "vokta-cli-$line-exit $status"
}

cases=$(sed -n 's/.*vokta\.cases=\([^ ]*\).*/\1/p' /proc/cmdline)
cli=$(sed -n 's/.*vokta\.cli=\([^ ]*\).*/\1/p' /proc/cmdline)
echo "vokta-guest-start"
if [ -n "$cli" ]; then
    line=0
    IFS=/
    for words in $cli; do
        unset IFS
        line=$((line + 1))
        run_cli "$words"
    done
    unset IFS
    echo "vokta-guest-exit $status"
else
    /bin/vokta-guest --gtest_filter="$cases"
    echo "vokta-guest-exit $?"
fi
poweroff -f
