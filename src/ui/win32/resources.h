// Resource numbers shared by the program's resource script and the window
// code that loads them. Plain defines, so that the resource compiler reads
// this file too.
#pragma once

#define UPDATER_ICON 1
