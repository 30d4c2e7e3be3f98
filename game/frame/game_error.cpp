// game/frame/game_error.cpp - stop flag, error text and how an error ends the
// program.
#include "game/frame/game_error.h"

#include <cstdio>
#include <cstring>

uint8_t g_stop_flag = 0;
char g_error_text[64] = "";

namespace {

void CopyTag(const char* tag) {
  std::snprintf(g_error_text, sizeof g_error_text, "%s", tag ? tag : "");
}

// Every non-ASCII tag that the game raises, in its own bytes (this file is
// compiled to code page 932) and in UTF-8.
struct KnownTag {
  const char* cp932;
  const char8_t* utf8;
};
constexpr KnownTag kKnownTags[] = {
    {"EXIT 終了", u8"EXIT 終了"},
    {"エスケープキー", u8"エスケープキー"},
    {"メッセージループ例外", u8"メッセージループ例外"},
    {"windowサイズ設定ミス", u8"windowサイズ設定ミス"},
    {"個別描画設定なし", u8"個別描画設定なし"},
    {"中ザコA用 円発射", u8"中ザコA用 円発射"},
    {"中ザコB用 ５way", u8"中ザコB用 ５way"},
    {"中ザコC用 ばらまき", u8"中ザコC用 ばらまき"},
};

}  // namespace

bool RaiseGameError(const char* tag) {
  g_stop_flag = 1;
  CopyTag(tag);
  return false;
}

void NoteGameError(const char* tag) { CopyTag(tag); }

int ExitStatusForError(const char* tag) {
  if (tag == nullptr || tag[0] == '\0') return 0;
  if (std::strcmp(tag, "EXIT 終了") == 0) return 0;
  if (std::strcmp(tag, "エスケープキー") == 0) return 0;
  if (std::strcmp(tag, "メッセージループ例外") == 0) return 0;
  return 1;
}

std::string ErrorTagToUtf8(const char* tag) {
  if (tag == nullptr) return std::string();
  for (const KnownTag& known : kKnownTags) {
    if (std::strcmp(tag, known.cp932) == 0) {
      return std::string(reinterpret_cast<const char*>(known.utf8));
    }
  }
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(tag); *p; ++p) {
    if (*p >= 0x20 && *p < 0x7F) {
      out += static_cast<char>(*p);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", *p);
      out += hex;
    }
  }
  return out;
}
