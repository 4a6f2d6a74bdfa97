#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source file the tree keeps names its licence in its first lines.
cd "$1" || exit 2
missing=$(git ls-files -- '*.cpp' '*.h' '*.inc' '*.in' '*.cmake' '*CMakeLists.txt' '*.sh' '*.asm' \
            '*.supp' '*.desktop' '*.svg' '*.py' '*.xml' '*.scd' '*.bash' 'bench/fuzz_all' \
            'docs/completions/_vokta-cli' |
          while read -r f; do
            head -n 3 "$f" | grep -q 'SPDX-License-Identifier: GPL-3.0-or-later' || echo "$f"
          done)
[ -z "$missing" ] && exit 0
echo "no SPDX-License-Identifier line in:" >&2
echo "$missing" >&2
exit 1
