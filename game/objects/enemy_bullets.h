// game/objects/enemy_bullets.h - the bullets that hurt the player (kinds 60
// and 72-75), their hit and graze tests, and the cancel of them all.
#pragma once

#include <cstdint>

#include "game/objects/game_object.h"

// Slots of the bullet record.
inline constexpr int kBulletSpeedFactor = 0;   // kind_values (kind 72)
inline constexpr int kBulletFactorStep = 1;
inline constexpr int kBulletFirstAccel = 2;    // kinds 73, 74
inline constexpr int kBulletFirstLimit = 3;    // kind 73
inline constexpr int kBulletNewAngle = 4;      // kind 74
inline constexpr int kBulletSecondAccel = 5;   // kinds 73, 74
inline constexpr int kBulletSecondLimit = 6;
inline constexpr int kBulletSpeedStep = 7;     // kind 75
inline constexpr int kBulletTurnRate = 8;
inline constexpr int kBulletTargetSpeed = 9;
inline constexpr int kBulletFirstFrames = 0;   // kind_counters: N (kinds 74, 75)

inline constexpr uint32_t kBulletCancelled = 99;
inline constexpr uint32_t kBulletFading = 100;

// The common part of every bullet but kind 60: colour 1-8, size class 1-4.
void InitEnemyBullet(GameObject& record, uint32_t size_class, uint32_t colour);
void InitEnemyBullet60(GameObject& record, uint32_t colour);

void CreateEnemyBullet60(GameObject& record, uint32_t colour, double x, double y, double angle,
                         double speed);
void CreateEnemyBullet72(GameObject& record, uint32_t size_class, uint32_t colour, double x,
                         double y, double angle, double speed);
void CreateEnemyBullet73(GameObject& record, uint32_t size_class, uint32_t colour, double x,
                         double y, double angle, double speed, double first_accel,
                         double first_limit, double second_accel, double second_limit);
void CreateEnemyBullet74(GameObject& record, uint32_t size_class, uint32_t first_frames,
                         uint32_t colour, double x, double y, double angle, double speed,
                         double first_accel, double new_angle, double second_accel,
                         double second_limit);
void CreateEnemyBullet75(GameObject& record, double x, double y, double angle, double speed,
                         double speed_step, double turn_rate, double target_speed);

void UpdateEnemyBullet60(GameObject& record);
void UpdateEnemyBullet72(GameObject& record);
void UpdateEnemyBullet73(GameObject& record);
void UpdateEnemyBullet74(GameObject& record);
void UpdateEnemyBullet75(GameObject& record);

void GrazeBullet(GameObject& bullet);
// The hit of a bullet on the player (life, shot power, invulnerability).
void HitPlayerByBullet(GameObject& bullet);

// Every in-use bullet that can still be cancelled starts to fade.
void CancelEnemyBullets();
