#!/bin/busybox sh
# /init of the QEMU guest: loads the floppy driver and the FAT modules, runs what the host
# named on the kernel command line, reports how it ended and powers the machine off.
# The host names either guest cases (vokta.cases=FILTER) or one vokta-cli command line
# (vokta.cli=xHEX,xHEX,...: each argument in hex behind an "x", so that an empty argument,
# a blank or a comma in one survives the kernel command line).
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in floppy fat msdos nls_cp437; do
    insmod /lib/modules/$module.ko || echo "vokta-guest-module-failed $module"
done

# Runs vokta-cli with the encoded arguments, nothing on its stdin, and reports its stdout
# and stderr as hex lines: the console turns line ends into CR LF and would lose bytes.
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
    od -An -v -tx1 /tmp/stdout | sed 's/^/vokta-cli-stdout /'
    od -An -v -tx1 /tmp/stderr | sed 's/^/vokta-cli-stderr /'
    echo "vokta-guest-exit $status"
}

cases=$(sed -n 's/.*vokta\.cases=\([^ ]*\).*/\1/p' /proc/cmdline)
cli=$(sed -n 's/.*vokta\.cli=\([^ ]*\).*/\1/p' /proc/cmdline)
echo "vokta-guest-start"
if [ -n "$cli" ]; then
    run_cli "$cli"
else
    /bin/vokta-guest --gtest_filter="$cases"
    echo "vokta-guest-exit $?"
fi
poweroff -f
