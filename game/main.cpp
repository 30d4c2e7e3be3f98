// game/main.cpp - the process entry: hands over to the game's WinMain.
#include "rorud/rorud.h"

int main() { return WinMain(); }
