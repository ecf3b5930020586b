// The clip that push tests serve to the real renderers, made at test time:
// an MP4 with H.264 video and AAC sound whose index comes before its data,
// so that a renderer can start playing while it still downloads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fixtures/lan_process.h"
#include "fixtures/real_renderers.h"

namespace tavrin {
namespace {

TEST(RealRenderersClip, MakesAStreamableMp4WithH264AndAac) {
  const std::string path = "/tmp/tavrin-clip-" + std::to_string(getpid()) + ".mp4";
  ASSERT_TRUE(testing::makeTestClip(TAVRIN_LAN_SCRIPT, path, 60));
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);

  // 20 s at these sizes is some hundred kilobytes.
  EXPECT_GT(bytes.size(), 200u * 1024);
  EXPECT_LT(bytes.size(), 2u * 1024 * 1024);
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(bytes.substr(4, 4), "ftyp");
  size_t index = bytes.find("moov");
  size_t data = bytes.find("mdat");
  ASSERT_NE(index, std::string::npos);
  ASSERT_NE(data, std::string::npos);
  EXPECT_LT(index, data);
  EXPECT_NE(bytes.substr(0, data).find("avc1"), std::string::npos);
  EXPECT_NE(bytes.substr(0, data).find("mp4a"), std::string::npos);
}

TEST(RealRenderersClip, FailsWhenTheFileCannotBeWritten) {
  EXPECT_FALSE(testing::makeTestClip(TAVRIN_LAN_SCRIPT, "/nonexistent-dir/clip.mp4", 30));
}

}  // namespace
}  // namespace tavrin
