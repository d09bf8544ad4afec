#!/bin/sh
# read-clipboard and write-clipboard from a script, against xclip on the X server in DISPLAY.
# Prints "routines ok" when every answer is the expected one, else what differed.
zel=$1
printf 'from xclip \303\251' | xclip -selection clipboard -i || exit 1
got=$("$zel" -e 'print mold read-clipboard
print write-clipboard "déjà vu"
print mold read-clipboard
print write-clipboard [%/tmp/a%20b.txt %"/tmp/cé.txt"]
print mold read-clipboard
print write-clipboard none
print mold read-clipboard')
want=$(printf '"from xclip \303\251"\ntrue\n"d\303\251j\303\240 vu"\ntrue\n[%%"/tmp/a b.txt" %%/tmp/c\303\251.txt]\ntrue\nnone')
if [ "$got" = "$want" ]; then echo "routines ok"; else printf 'got:\n%s\nwant:\n%s\n' "$got" "$want"; fi
