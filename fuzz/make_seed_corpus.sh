#!/usr/bin/env bash
# Makes the fuzz targets' seed corpus from real packed executables: packs the
# example application, a small test application (a program, an empty file
# and a text file in folders) and a tiny one (a main program of headers
# alone, and a few bytes in files, so that the per-layout targets also have
# seeds small enough to mutate fast) with the host zobrel-pack, in several
# variants of the options, and splits each into every target's input form
# (seed_corpus), and takes the resources of two of Wine's programs (icon
# groups of many images, version resources of another maker); adds the
# payload test fixtures and the test icon.
#
# usage: make_seed_corpus.sh ZOBREL_PACK SEED_CORPUS SOURCE_DIR OUT_DIR EXAMPLE_APP_DIR TEST_APP_EXE
set -euo pipefail
pack=$1 splitter=$2 src=$3 out=$4 example=$5 test_exe=$6
[ -d "$example" ] || { echo "make_seed_corpus: the example application $example is missing" >&2; exit 1; }
rm -rf "$out"
mkdir -p "$out/exe"
bash "$src/tests/make_unpack_app.sh" "$test_exe" "$out/test-app" 0
rmdir "$out/test-app/lib"  # for Wine's DLLs, none here

"$pack" build "$example" --main vexor.exe -o "$out/exe/vexor.exe" --company "MOLTARN LLC" --product vexor \
  --file-version 0.2.0.0 --quiet
"$pack" build "$example" --main vexor.exe -o "$out/exe/vexor-checksum-icon.exe" --checksum \
  --icon "$src/tests/fixtures/vexor.ico" --level 3 --quiet
"$pack" build "$out/test-app" --main app.exe -o "$out/exe/test-app.exe" --level 1 --quiet
"$pack" build "$out/test-app" --main app.exe -o "$out/exe/test-app-metadata.exe" --check metadata \
  --target-spec '{TEMP}\zobrel-fuzz\{PID}' --product 'ünïcode ☃' --checksum --quiet

# A PE32+ console image's headers and nothing else: all the packer asks of a
# main program (64-bit, an executable image, not a DLL, console subsystem).
mkdir -p "$out/tiny-app/data/sub"
{ printf 'MZ'; head -c 58 /dev/zero; printf '\x40\0\0\0'              # e_lfanew: 0x40
  printf 'PE\0\0\x64\x86\0\0'; head -c 12 /dev/zero              # AMD64, no sections
  printf '\xf0\0\x22\0'                                         # optional header size, executable image
  printf '\x0b\x02'; head -c 66 /dev/zero; printf '\x03\0'; head -c 170 /dev/zero  # PE32+, console
} >"$out/tiny-app/main.exe"
: >"$out/tiny-app/data/empty"
printf 'hello\r\n' >"$out/tiny-app/data/sub/hello.txt"
printf 'x' >"$out/tiny-app/data/ünï ☃.txt"
"$pack" build "$out/tiny-app" --main main.exe -o "$out/exe/tiny-app.exe" --level 1 --quiet
"$pack" build "$out/tiny-app" --main main.exe -o "$out/exe/tiny-app-checksum.exe" --checksum --level 19 \
  --company 'Ünïcode ☃ Inc' --description 'Tiny ☃ app' --copyright '© 2026 Ünïcode' --quiet

wine_programs=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
"$splitter" "$out/corpus" "$out"/exe/*.exe --resources-of "$wine_programs/winecfg.exe" "$wine_programs/notepad.exe"

# The payload fixtures: blobs damaged in the ways the launcher's tests know.
for blob in "$src"/tests/fixtures/payload/*.bin; do
  name=$(basename "$blob" .bin)
  cp "$blob" "$out/corpus/payload_blob/fixture-$name"
  { printf '\0'; cat "$blob"; } >"$out/corpus/launcher_payload/fixture-$name"
done
# Archive recipes (archive_recipe.h): a window's worth of one byte then a
# little noise; a chunk of noise, then runs across several windows, in
# blocks of 40595 bytes.
for target in archive_stream launcher_payload; do
  printf '\x05\x00\x08A\x00\x01\x00B\x02' >"$out/corpus/$target/recipe-window"
  printf '\x5d\x00\x02C\x02\xff\x17D\x04\x03\x00E\x03' >"$out/corpus/$target/recipe-chunks"
done
mkdir -p "$out/corpus/icon"
cp "$src/tests/fixtures/vexor.ico" "$out/corpus/icon/vexor.ico"
echo "make_seed_corpus: $(find "$out/corpus" -type f | wc -l) seeds in $out/corpus"
