#!/usr/bin/env bash
# Vtable slots of the hand-declared capture interfaces, read from the cross compiler's code.
# Exit status 77 (skipped) without the cross compiler.
set -euo pipefail
racine="$(cd "$(dirname "$0")/../.." && pwd)"
cxx=x86_64-w64-mingw32-g++-posix
command -v "$cxx" >/dev/null || { echo "$cxx absent : test ignoré" >&2; exit 77; }
temp="$(mktemp -d)"
trap 'rm -rf "$temp"' EXIT
"$cxx" -std=c++23 -O2 -Wall -Wextra -Wpedantic -DUNICODE -DNOMINMAX -DWIN32_LEAN_AND_MEAN \
  -I"$racine/src" -c "$racine/tests/windows/abi_vtables.cpp" -o "$temp/abi.o"
x86_64-w64-mingw32-objdump -d "$temp/abi.o" |
  awk '/^[0-9a-f]+ </ { gsub(/[<>:]/, "", $2); f = $2; next }
       f != "" && match($0, /\*?0x[0-9a-f]+\(%rax\)/) { o = substr($0, RSTART, RLENGTH); sub(/^\*/, "", o); sub(/\(%rax\)$/, "", o);
                                                        if (!(f in vu)) { print f, o; vu[f] = 1 } }
       f != "" && /\*\(%rax\)/ && !(f in vu) { print f, "0x0"; vu[f] = 1 }' >"$temp/obtenu"
# Slot × 8: IUnknown 0–2, IInspectable 3–5, own methods from 6 (delegates and interop from 3).
cat >"$temp/attendu" <<'FIN'
item_interop 0x18
item_size 0x38
item_add_closed 0x40
item_remove_closed 0x48
statics_cft 0x30
pool_recreate 0x30
pool_try 0x38
pool_add 0x40
pool_remove 0x48
pool_session 0x50
frame_surface 0x30
frame_content 0x40
session_start 0x30
session2_put 0x38
session3_put 0x38
closable_close 0x30
access_get 0x18
fa_invoke 0x18
cl_invoke 0x18
FIN
if ! diff -u "$temp/attendu" "$temp/obtenu"; then
  echo "ÉCHEC : emplacements de vtable" >&2
  exit 1
fi
# SizeInt32 by value: one 64-bit value (height:width) in the first stack slot.
if ! x86_64-w64-mingw32-objdump -d "$temp/abi.o" | sed -n '/<statics_cft>:/,/ret/p' | grep -q 'movabs \$0x200000001'; then
  echo "ÉCHEC : SizeInt32 n'est pas passé par valeur" >&2
  exit 1
fi
echo ok
