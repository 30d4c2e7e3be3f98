// game/objects/random_helpers.cpp - the game's random values. Each takes
// exactly one draw from the library's generator: the number and order of
// draws is what lets a replay reproduce a stage.
#include "game/objects/game_object.h"
#include "rorud/rorud.h"

double RandRange(double width, double base) {
  const int max = static_cast<int>(width * 65536.0);
  return static_cast<double>(GetRandomRange(max)) / 65536.0 + base;
}

double RandSigned(double width) {
  const double r = static_cast<double>(GetRandomRange(static_cast<int>(width * 65536.0))) / 65536.0;
  return 2.0 * r - width;
}
