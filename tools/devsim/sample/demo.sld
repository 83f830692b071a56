Demo upload script for the device simulator.
Lines that do not start with an underscore are comments.

Switch the device to its upload replies and wait for its upload prompt.
_TC "MODE UL^M"
Ask for the firmware version: the answer is a value, so the script goes on.
_TC "VER^M"
Send a command without waiting for its answer, then give the answer time to arrive.
_SC "ECHO demo started^M"
_DY 50
Wait one second before checking each upload.
_LP 1

_LF app.bin
_LA 0x00010000
_LV 1.0
_LD

_LF data.bin
_LA 0x00020000
_LV DATE
_LD

_DM "Demo upload finished."
