Upload that the device fails on purpose: it reports its upload error after 100 bytes.

_TC "MODE UL^M"
_TC "FAIL 100^M"
_LF data.bin
_LA 0x00020000
_LV 1.0
_LD
