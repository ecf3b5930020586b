#include "host/os_version.h"

#include "platform/text_encoding.h"

namespace tavrin {
namespace {

constexpr int kWorkstation = 1;
constexpr int kDomainController = 2;
constexpr int kArchitectureX64 = 9;
constexpr uint32_t kSuiteEnterprise = 0x2;
constexpr uint32_t kSuiteDatacenter = 0x80;
constexpr uint32_t kSuitePersonal = 0x200;
constexpr uint32_t kSuiteBlade = 0x400;
constexpr uint32_t kSuiteStorageServer = 0x2000;
constexpr uint32_t kSuiteHomeServer = 0x8000;

std::string windows52Name(const OsVersionFacts& facts) {
  if (facts.serverR2) return "Windows Server 2003 R2, ";
  if (facts.suiteMask & kSuiteStorageServer) return "Windows Storage Server 2003";
  if (facts.suiteMask & kSuiteHomeServer) return "Windows Home Server";
  if (facts.productType == kWorkstation && facts.processorArchitecture == kArchitectureX64) {
    return "Windows XP Professional x64 Edition";
  }
  return "Windows Server 2003, ";
}

std::string baseName(const OsVersionFacts& facts) {
  const bool workstation = facts.productType == kWorkstation;
  if (facts.major == 10) {
    if (facts.minor != 0) return std::string();
    return workstation ? "Windows 10" : "Windows Server 2016";
  }
  if (facts.major == 6) {
    static const char* const workstations[] = {"Windows Vista", "Windows 7", "Windows 8", "Windows 8.1"};
    static const char* const servers[] = {"Windows Server 2008", "Windows Server 2008 R2", "Windows Server 2012",
                                          "Windows Server 2012 R2"};
    if (facts.minor < 0 || facts.minor > 3) return std::string();
    return workstation ? workstations[facts.minor] : servers[facts.minor];
  }
  if (facts.major == 5 && facts.minor == 0) return "Windows 2000";
  if (facts.major == 5 && facts.minor == 1) return "Windows XP";
  if (facts.major == 5 && facts.minor == 2) return windows52Name(facts);
  if (facts.major == 4 && facts.minor == 10) return "Windows 98";
  if (facts.major < 6) {
    return utf8ToGbk("获取失败，请检查版本:") + std::to_string(facts.major) + "." + std::to_string(facts.minor);
  }
  return std::string();
}

// The system never asks for editions; these name the editions the product
// type and suite mask tell apart.
std::string editionName(const OsVersionFacts& facts) {
  if (facts.productType == kWorkstation) return (facts.suiteMask & kSuitePersonal) ? "Home" : "Professional";
  if (facts.productType == kDomainController) return "Domain Controller";
  if (facts.suiteMask & kSuiteDatacenter) return "Datacenter";
  if (facts.suiteMask & kSuiteEnterprise) return "Enterprise";
  if (facts.suiteMask & kSuiteBlade) return "Web Edition";
  return "Standard";
}

}  // namespace

std::string osVersionName(const OsVersionFacts& facts, const OsVersionOptions& options) {
  std::string name = baseName(facts);
  if (options.withEdition) name += " " + editionName(facts);
  if (options.withArchitecture) name += facts.wow64 ? " x64" : " x86";
  std::string details;
  if (options.withServicePack) {
    details = facts.servicePack.empty() ? facts.registryServicePack : facts.servicePack;
    if (details.size() < 3) details.clear();
  }
  if (options.withBuild) {
    const uint32_t build = facts.build & 0xFFFF;
    const std::string number = build != 0 ? std::to_string(build) : facts.registryBuild;
    if (!number.empty()) details += (details.empty() ? "Build:" : ",Build:") + number;
  }
  if (!details.empty()) name += " (" + details + ")";
  return name;
}

bool queryOsVersionFacts(OsVersionFacts&) { return false; }

std::string osVersionText(int& major, int& minor, bool withEdition, bool withArchitecture, bool withServicePack,
                          bool withBuild) {
  OsVersionFacts facts;
  if (!queryOsVersionFacts(facts)) return std::string();
  major = facts.major;
  minor = facts.minor;
  return osVersionName(facts, OsVersionOptions{withEdition, withArchitecture, withServicePack, withBuild});
}

}  // namespace tavrin
