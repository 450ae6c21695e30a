#!/usr/bin/env bash
# Builds a PS-X EXE from the test program's C and assembly sources:
#   make-psexe.sh OUTPUT.exe SOURCE...
# The image is the linked program's bytes from 0x80010000, padded to whole
# 2048-byte sectors, behind a 2048-byte header: the magic "PS-X EXE", the entry
# point (0x10), the load address (0x18), the image size (0x1C), the stack (0x30)
# and the region text the BIOS looks for (0x4C).
set -euo pipefail
out=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
cc=${MIPS_CC:-mipsel-linux-gnu-gcc}
objcopy=${MIPS_OBJCOPY:-mipsel-linux-gnu-objcopy}
nm=${MIPS_NM:-mipsel-linux-gnu-nm}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cc" -march=r3000 -mabi=32 -msoft-float -mno-abicalls -fno-pic -G0 -O2 -nostdlib -ffreestanding -fno-pie -no-pie -static -Wl,--build-id=none \
    -fno-builtin -Wall -Wextra -T "$here/psexe.ld" -o "$work/program.elf" "$@"
"$objcopy" -O binary "$work/program.elf" "$work/program.bin"

size=$(stat -c %s "$work/program.bin")
padded=$(( (size + 2047) / 2048 * 2048 ))
truncate -s "$padded" "$work/program.bin"
entry=$((16#$("$nm" "$work/program.elf" | awk '$3 == "_start" { print $1 }')))

# A 32-bit little-endian word as printf escapes.
word() {
    printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(( $1 & 255 )) $(( ($1 >> 8) & 255 )) $(( ($1 >> 16) & 255 )) \
        $(( ($1 >> 24) & 255 ))
}

{
    printf 'PS-X EXE'
    printf '\0\0\0\0\0\0\0\0'
    printf "$(word "$entry")"            # 0x10 initial pc
    printf "$(word 0)"                   # 0x14 initial gp (start-up code sets it)
    printf "$(word $((0x80010000)))"     # 0x18 load address
    printf "$(word "$padded")"           # 0x1C image size
    printf "$(word 0)$(word 0)$(word 0)$(word 0)" # 0x20..0x2F data and bss (unused)
    printf "$(word $((0x801FFF00)))"     # 0x30 stack base
    printf "$(word 0)"                   # 0x34 stack offset
    head -c 20 /dev/zero                 # 0x38..0x4B reserved
    printf 'Sony Computer Entertainment Inc. for North America area'
} > "$work/header"
truncate -s 2048 "$work/header"
cat "$work/header" "$work/program.bin" > "$out"
