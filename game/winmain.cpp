// game/winmain.cpp - the game's start-up and shutdown.
#include "rorud/rorud.h"

int WinMain() { return 0; }
