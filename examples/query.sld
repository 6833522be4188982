; Ask the unit for its firmware version, branch on the answer, and ask the technician before
; flashing. Try it against the simulator: kestrin-unit-sim --reply 'VER=Version 2.03' (see README).
_QC "VER"
; A unit that already runs the new version is left alone.
_CS "Version 2.10" _DM "The unit already runs Version 2.10. Nothing to do."
_CS "Version 2.10" _FI
; Only units of the version 2 family take this image.
_CN "Version 2." _DM "This is no Version 2 unit. It is not flashed."
_CN "Version 2." _FI
_DQ "The unit runs an older version.^MFlash Version 2.10 now?"
_DC _DM "Nothing was flashed."
_DC _FI
_TC "^M"
_LF demo-image.bin
_LA 0x10000
_LV DATE
_LD
_DM "Version 2.10 is flashed. Restart the unit."
_FI
