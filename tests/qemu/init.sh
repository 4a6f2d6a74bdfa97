#!/bin/busybox sh
# /init of the QEMU guest: loads the floppy driver and the FAT modules, runs the cases
# the host named on the kernel command line (vokta.cases=), reports how they ended and
# powers the machine off.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in floppy fat msdos nls_cp437; do
    insmod /lib/modules/$module.ko || echo "vokta-guest-module-failed $module"
done
cases=$(sed -n 's/.*vokta\.cases=\([^ ]*\).*/\1/p' /proc/cmdline)
echo "vokta-guest-start"
/bin/vokta-guest --gtest_filter="$cases"
echo "vokta-guest-exit $?"
poweroff -f
