#pragma once
// The name of the running Windows version, from the facts Windows reports.
// On Linux there are no such facts and the name is the empty text.
#include <cstdint>
#include <string>

namespace tavrin {

struct OsVersionFacts {
  int major = 0;
  int minor = 0;
  int productType = 0;  // 1: workstation
  uint32_t suiteMask = 0;
  int processorArchitecture = 0;  // 9: x64
  bool serverR2 = false;  // GetSystemMetrics(SM_SERVERR2) is not 0
  bool wow64 = false;     // a 32-bit process on 64-bit Windows
  std::string servicePack;          // of the version record, GBK
  std::string registryServicePack;  // CurrentVersion\CSDVersion, GBK
  uint32_t build = 0;               // only the low 16 bits count
  std::string registryBuild;        // CurrentVersion\CurrentBuild
};

struct OsVersionOptions {
  bool withEdition = false;
  bool withArchitecture = false;
  bool withServicePack = false;
  bool withBuild = false;
};

// The version's name ("Windows 10", "Windows Server 2003, " …) extended by
// the chosen options, in GBK; the empty text for versions of 6 or above that
// it does not know.
std::string osVersionName(const OsVersionFacts& facts, const OsVersionOptions& options);

// Reads the facts from the running system; false when it is not Windows.
bool queryOsVersionFacts(OsVersionFacts& facts);

// The running system's name with the chosen options; major and minor receive
// its version numbers. When the facts cannot be read (not Windows) the result
// is the empty text and major and minor keep their values.
std::string osVersionText(int& major, int& minor, bool withEdition = false, bool withArchitecture = false,
                          bool withServicePack = false, bool withBuild = false);

}  // namespace tavrin
