// lib/system/system_report.cpp - the machine report at the library start:
// version, processors, operating system and processor features, kept for the
// rest of the library (the processor count decides who services sound, the
// time-stamp rate feeds the microsecond clock).
#include <cstdio>
#include <cstring>

#include "lib/core/clock.h"
#include "lib/core/log.h"
#include "lib/system/window_system.h"
#include "platform/kernel/kernel.h"

namespace {

SystemFindings g_findings;

struct TimeCaps {
  uint32_t period_min, period_max;
};

void BeginMinimumTimerPeriod() {
  auto get_caps = reinterpret_cast<uint32_t (*)(TimeCaps*, uint32_t)>(GetLoadedFunction("timeGetDevCaps"));
  auto begin = reinterpret_cast<uint32_t (*)(uint32_t)>(GetLoadedFunction("timeBeginPeriod"));
  TimeCaps caps = {1, 1000000};
  if (get_caps != nullptr) get_caps(&caps, sizeof caps);
  if (begin != nullptr) begin(caps.period_min);
}

void OsName(const plat::SystemInfo& info, char* name, size_t size) {
  std::snprintf(name, size, "Windows");
  const char* version = nullptr;
  const char* extra = "";
  int code = -1;
  if (info.os_platform == 0) {
    version = "3.1";
    code = 0;
  } else if (info.os_platform == 1) {
    if (info.os_minor == 0) {
      version = "95";
      code = 1;
      if (info.os_service[0] == 'C') extra = "OSR2";
    } else if (info.os_minor == 10) {
      version = "98";
      code = 2;
      if (info.os_service[0] == 'A') extra = "SE";
    } else if (info.os_minor == 90) {
      version = "Me";
      code = 3;
    }
  } else if (info.os_platform == 2) {
    if (info.os_major == 3) {
      version = "NT 3.51";
      code = 0x104;
    } else if (info.os_major == 4) {
      version = "4.0";
      code = 0x105;
    } else if (info.os_major == 5 && info.os_minor == 0) {
      version = "2000";
      code = 0x106;
    } else if (info.os_major == 5 && info.os_minor == 1) {
      version = "XP";
      code = 0x107;
    } else if (info.os_major == 6 && info.os_minor == 0) {
      version = "Vista";
      code = 0x108;
    } else if (info.os_major == 6 && info.os_minor == 1) {
      version = "7";
      code = 0x109;
    }
  }
  if (version != nullptr) {
    size_t used = std::strlen(name);
    std::snprintf(name + used, size - used, "%s%s", version, extra);
  }
  if (code >= 0) g_findings.os_version_code = code;
}

}  // namespace

const SystemFindings& GetSystemFindings() { return g_findings; }
int GetMmxFlag() { return g_findings.has_mmx; }

int WriteSystemReport() {
  WriteLogLine("システムの情報を出力します\n");
  LogIndentIn();
  WriteLogLineFmt("ZOvurar Ver%s", "3.06a");

  plat::SystemInfo info = plat::GetSystemInfo();
  g_findings.processor_count = info.processor_count;
  WriteLogLineFmt("論理プロセッサの数 : %d", info.processor_count);

  WriteLogLine("ＯＳ  ");
  char name[64];
  OsName(info, name, sizeof name);
  std::snprintf(g_findings.os_text, sizeof g_findings.os_text, "%s ( Build %d %s )", name, info.os_build,
                info.os_service);
  WriteLogLineFmt("%s", g_findings.os_text);
  g_findings.directx_version = 0x70000;

  BeginMinimumTimerPeriod();

  int level = 0;
  if (info.has_cpuid) {
    level = 1;
    if (info.has_mmx) {
      level = 3;
      if (info.has_sse) {
        level = 4;
        if (info.has_sse2) level = 5;
      }
    }
  }

  g_findings.has_time_stamp_counter = info.has_cpuid && info.has_time_stamp_counter ? 1 : 0;
  if (g_findings.has_time_stamp_counter) {
    uint64_t before = plat::ReadTimeStampCounter();
    uint32_t start = plat::TimeGetTime();
    while (plat::TimeGetTime() - start < 100) {
    }
    uint64_t difference = plat::ReadTimeStampCounter() - before;
    g_findings.cpu_mhz = static_cast<int>(static_cast<double>(difference) / 100000.0);
    g_findings.time_stamp_rate = difference * 10;
    SetMicroClockTimeStampRate(g_findings.time_stamp_rate);
    WriteLogLineFmt("ＣＰＵ動作速度：大体%.2fGHz", g_findings.cpu_mhz / 1000.0);
  }

  switch (level) {
    case 0:
      WriteLogLine("ＣＰＵＩＤ命令は使えません\n");
      break;
    case 1:
      WriteLogLine("ＭＭＸは使えません\n");
      break;
    default:
      WriteLogLine("ＭＭＸ命令を使用します\n");
      g_findings.has_mmx = 1;
      if (level >= 4) {
        WriteLogLine("ＳＳＥ命令が使用可能です\n");
        g_findings.has_sse = 1;
      }
      if (level >= 5) {
        WriteLogLine("ＳＳＥ２命令が使用可能です\n");
        g_findings.has_sse2 = 1;
      }
      break;
  }

  if (level > 0) {
    WriteLogLine("ＣＰＵベンダ：");
    char piece[5] = {0, 0, 0, 0, 0};
    for (int i = 0; i < 3; ++i) {
      std::memcpy(piece, info.cpu_vendor + 4 * i, 4);
      WriteLogLine(piece);
    }
    WriteLogLine("\n");
    if (info.cpu_brand[0] != '\0') {
      WriteLogLineFmt("ＣＰＵ名：%s", info.cpu_brand);
      std::snprintf(g_findings.cpu_name, sizeof g_findings.cpu_name, "%s", info.cpu_brand);
    }
  }
  LogIndentOut();
  return 0;
}
