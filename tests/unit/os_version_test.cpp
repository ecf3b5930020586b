#include <gtest/gtest.h>

#include <string>

#include "host/os_version.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

OsVersionFacts version(int major, int minor, int productType = 1) {
  OsVersionFacts facts;
  facts.major = major;
  facts.minor = minor;
  facts.productType = productType;
  return facts;
}

TEST(OsVersionName, NamesEveryVersionOfTheTables) {
  struct Case {
    OsVersionFacts facts;
    std::string name;
  } cases[] = {
      {version(10, 0), "Windows 10"},  // Windows 11 reports 10.0 too
      {version(10, 0, 3), "Windows Server 2016"},
      {version(6, 0), "Windows Vista"},
      {version(6, 0, 2), "Windows Server 2008"},
      {version(6, 1), "Windows 7"},
      {version(6, 1, 3), "Windows Server 2008 R2"},
      {version(6, 2), "Windows 8"},
      {version(6, 2, 3), "Windows Server 2012"},
      {version(6, 3), "Windows 8.1"},
      {version(6, 3, 3), "Windows Server 2012 R2"},
      {version(5, 0), "Windows 2000"},
      {version(5, 0, 3), "Windows 2000"},
      {version(5, 1), "Windows XP"},
      {version(5, 1, 3), "Windows XP"},
      {version(4, 10), "Windows 98"},
      {version(4, 10, 3), "Windows 98"},
      {version(3, 51), utf8ToGbk("获取失败，请检查版本:3.51")},
      {version(4, 0), utf8ToGbk("获取失败，请检查版本:4.0")},
      {version(5, 3), utf8ToGbk("获取失败，请检查版本:5.3")},
      {version(6, 4), ""},
      {version(10, 1), ""},
      {version(7, 0), ""},
      {version(11, 0), ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(osVersionName(c.facts, {}), c.name) << c.facts.major << "." << c.facts.minor << "/"
                                                    << c.facts.productType;
  }
}

TEST(OsVersionName, TakesTheFirstMatchingBranchOf52) {
  auto facts52 = [](bool serverR2, uint32_t suiteMask, int productType, int architecture) {
    OsVersionFacts facts = version(5, 2, productType);
    facts.serverR2 = serverR2;
    facts.suiteMask = suiteMask;
    facts.processorArchitecture = architecture;
    return facts;
  };
  struct Case {
    OsVersionFacts facts;
    const char* name;
  } cases[] = {
      {facts52(true, 0x2000 | 0x8000, 1, 9), "Windows Server 2003 R2, "},
      {facts52(false, 0x2000 | 0x8000, 1, 9), "Windows Storage Server 2003"},
      {facts52(false, 0x8000, 1, 9), "Windows Home Server"},
      {facts52(false, 0, 1, 9), "Windows XP Professional x64 Edition"},
      {facts52(false, 0, 1, 0), "Windows Server 2003, "},
      {facts52(false, 0, 3, 9), "Windows Server 2003, "},
  };
  for (const Case& c : cases) EXPECT_EQ(osVersionName(c.facts, {}), c.name);
  // The file-drop target treats every name that begins so as Windows XP.
  EXPECT_EQ(osVersionName(facts52(false, 0, 1, 9), {}).substr(0, 10), "Windows XP");
}

TEST(OsVersionName, AppendsTheOptionsInOrder) {
  OsVersionFacts facts = version(6, 1);
  facts.wow64 = true;
  facts.servicePack = "Service Pack 1";
  facts.build = 0x10000 + 7601;  // only the low 16 bits count
  struct Case {
    OsVersionOptions options;
    const char* name;
  } cases[] = {
      {{false, false, false, false}, "Windows 7"},
      {{true, false, false, false}, "Windows 7 Professional"},
      {{false, true, false, false}, "Windows 7 x64"},
      {{false, false, true, false}, "Windows 7 (Service Pack 1)"},
      {{false, false, false, true}, "Windows 7 (Build:7601)"},
      {{true, true, true, true}, "Windows 7 Professional x64 (Service Pack 1,Build:7601)"},
  };
  for (const Case& c : cases) EXPECT_EQ(osVersionName(facts, c.options), c.name);

  // A 32-bit system, the registry's service pack, a service pack text too
  // short to count, and the registry's build when the reported one is 0.
  OsVersionFacts old = version(5, 1);
  old.registryServicePack = "Service Pack 3";
  old.registryBuild = "2600";
  EXPECT_EQ(osVersionName(old, {false, true, true, true}), "Windows XP x86 (Service Pack 3,Build:2600)");
  old.servicePack = "SP";
  EXPECT_EQ(osVersionName(old, {false, false, true, false}), "Windows XP");
  old.registryBuild.clear();
  EXPECT_EQ(osVersionName(old, {false, false, true, true}), "Windows XP");
}

TEST(OsVersionName, NamesEditions) {
  OsVersionFacts home = version(5, 1);
  home.suiteMask = 0x200;
  EXPECT_EQ(osVersionName(home, {true, false, false, false}), "Windows XP Home");
  EXPECT_EQ(osVersionName(version(6, 1, 2), {true, false, false, false}),
            "Windows Server 2008 R2 Domain Controller");
  OsVersionFacts datacenter = version(6, 3, 3);
  datacenter.suiteMask = 0x80 | 0x2;
  EXPECT_EQ(osVersionName(datacenter, {true, false, false, false}), "Windows Server 2012 R2 Datacenter");
  EXPECT_EQ(osVersionName(version(10, 0, 3), {true, false, false, false}), "Windows Server 2016 Standard");
}

TEST(OsVersionText, IsEmptyOffWindowsAndLeavesTheNumbersAlone) {
  OsVersionFacts facts;
  EXPECT_FALSE(queryOsVersionFacts(facts));
  int major = 123;
  int minor = 456;
  EXPECT_EQ(osVersionText(major, minor, true, true, true, true), "");
  EXPECT_EQ(major, 123);
  EXPECT_EQ(minor, 456);
}

}  // namespace
}  // namespace tavrin
