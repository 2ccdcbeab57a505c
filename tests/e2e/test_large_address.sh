#!/bin/sh
# terrava.exe is large-address-aware: the flag in its PE header, and the loader's decode giving
# the same pixels with its buffers above 2 GB (the probe reserves everything below first). Where
# Wine gives the process no address space above 2 GB, only the flag is checked.
E2E_EXE=$1
E2E_PROBE_DIR=$(dirname "$2")
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"

# pe_flag_set FILE MASK - the COFF header's Characteristics of the PE file has MASK set.
pe_flag_set() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read(4096)
pe = struct.unpack_from("<I", data, 0x3C)[0]
if data[pe:pe + 4] != b"PE\0\0":
    sys.exit("%s: no PE header" % sys.argv[1])
characteristics = struct.unpack_from("<H", data, pe + 4 + 18)[0]
sys.exit(0 if characteristics & int(sys.argv[2], 0) else 1)
PY
}

e2e_begin large_address
IMAGE_FILE_LARGE_ADDRESS_AWARE=0x20
e2e_check "terrava.exe is linked large-address-aware" pe_flag_set "$E2E_EXE" $IMAGE_FILE_LARGE_ADDRESS_AWARE
probe=$E2E_PROBE_DIR/e2e-high-memory-probe.exe
e2e_check "the probe is large-address-aware too" pe_flag_set "$probe" $IMAGE_FILE_LARGE_ADDRESS_AWARE

# A 512-pixel tile: its 1 MB of pixels is a block of its own, mapped wherever there is room.
python3 -c '
import sys
w = h = 512
rgb = bytearray()
for y in range(h):
    for x in range(w):
        rgb += bytes(((x * 5) % 256, (y * 3) % 256, ((x ^ y) * 2) % 256))
sys.stdout.buffer.write(b"P6\n%d %d\n255\n" % (w, h) + bytes(rgb))' >"$E2E_OUT/tile.ppm"
cjpeg -quality 90 -sample 2x2 "$E2E_OUT/tile.ppm" >"$E2E_OUT/tile.jpg" || e2e_die "cjpeg failed"

answer=$(timeout 300 wine "$probe" "$(e2e_winpath "$E2E_OUT/tile.jpg")" 512 2>>"$E2E_OUT/app.log" | tr -d '\r')
e2e_log "probe: $answer"
case $answer in
no-high-memory) e2e_log "this Wine gives the 32-bit process no address space above 2 GB: decode not checked there" ;;
*) e2e_check "a decode with its buffers above 2 GB gives the same pixels ($answer)" \
     test "${answer%% *}" = same ;;
esac
e2e_finish
