; The demo: switch the unit to loader mode and upload one image stamped with its file date.
_TC "^M"
_LF demo-image.bin
_LA 0x10000
_LV DATE
_LD
_FI
