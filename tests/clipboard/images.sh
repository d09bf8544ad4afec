#!/bin/sh
# Images through the clipboard against xclip on the X server in DISPLAY: a PNG that xclip offers
# reads as the image; an image we write is offered as image/png and image/bmp, both of which
# decode to it. Prints "images ok" when every answer is the expected one, else what differed.
zel=$1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
# Three pixels: red, green, and blue half transparent.
"$zel" -e 'save %in.png make image! [3x1 #{FF000000FF000000FF} #{0000FF}]' || exit 1
xclip -selection clipboard -t image/png -i in.png || exit 1
got=$("$zel" -e 'i: read-clipboard  print [type? i  i = load %in.png]')
[ "$got" = "image true" ] || { echo "reading: $got"; exit 1; }

# The writer owns the clipboard only while it runs: it waits while xclip reads.
"$zel" -e 'write-clipboard load %in.png  print "written"  wait 5' > writer.out &
writer=$!
for i in 1 2 3 4 5 6 7 8 9 10; do
  grep -q written writer.out 2>/dev/null && break
  sleep 0.2
done
targets=$(xclip -selection clipboard -o -t TARGETS | tr '\n' ' ')
xclip -selection clipboard -o -t image/png > out.png
xclip -selection clipboard -o -t image/bmp > out.bmp
kill $writer 2>/dev/null
got=$("$zel" -e 'i: load %in.png  print [i = load %out.png  i = load %out.bmp]')
case "$targets" in
  *image/png*image/bmp*) ;;
  *) echo "targets: $targets"; exit 1 ;;
esac
[ "$got" = "true true" ] || { echo "written: $got"; exit 1; }

# An image without pixels offers nothing: the clipboard reads as empty.
got=$("$zel" -e 'print write-clipboard make image! 0x0  print mold read-clipboard')
[ "$got" = "$(printf 'true\nnone')" ] || { echo "empty image: $got"; exit 1; }
echo "images ok"
