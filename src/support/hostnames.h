// Name rules of the host file systems that a device name must also pass: the names
// Windows would change or take for a device, and names equal without regard to case.
// Nothing here raises.
#pragma once

// True for a name that Windows would store under another name or open as a device:
// a trailing dot or space; CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9 and
// LPT0-LPT9 (also with a superscript 1, 2 or 3 as the digit), alone or before a dot,
// in any case ("aux.c", "Nul.txt.gz").
bool isWindowsChangedName(const char16_t* name);

// True when two names are equal without regard to case, as a file system that folds
// case compares them (unit by unit, upper-cased as the host does it).
bool namesEqualFoldingCase(const char16_t* a, const char16_t* b);
