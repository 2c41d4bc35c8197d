#!/usr/bin/env bash
# Exits 0 when this machine can execute 32-bit x86 programs, 1 when it cannot. Some machines
# (virtual machines among them) refuse every i386 executable, and 32-bit Wine with them. The
# probe needs no i386 package: it runs a 96-byte static i386 program that only exits with
# status 42 (ELF header, one loadable segment, then mov eax,1; mov ebx,42; int 0x80).
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/can-run-i386.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$dir/probe"
chmod +x "$dir/probe"
"$dir/probe" >/dev/null 2>&1
[ $? -eq 42 ]
