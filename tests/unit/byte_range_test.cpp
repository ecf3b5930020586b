#include "platform/byte_range.h"

#include <gtest/gtest.h>

#include "platform/mime_type.h"

namespace tavrin {
namespace {

using Kind = ByteRange::Kind;

struct RangeCase {
  const char* header;
  uint64_t size;
  Kind kind;
  uint64_t first;
  uint64_t last;
};

TEST(ByteRangeTest, ReadsOneRangeAgainstTheFileSize) {
  const RangeCase cases[] = {
      {"bytes=0-99", 1000, Kind::partial, 0, 99},
      {"bytes=0-0", 1000, Kind::partial, 0, 0},
      {"bytes=990-", 1000, Kind::partial, 990, 999},
      {"bytes=999-999", 1000, Kind::partial, 999, 999},
      {"bytes=500-5000", 1000, Kind::partial, 500, 999},
      {"bytes=-10", 1000, Kind::partial, 990, 999},
      {"bytes=-5000", 1000, Kind::partial, 0, 999},
      {"BYTES = 1 - 2 ", 1000, Kind::partial, 1, 2},
      {"bytes=4294967296-", 8589934592ull, Kind::partial, 4294967296ull, 8589934591ull},
      {"bytes=1000-", 1000, Kind::unsatisfiable, 0, 0},
      {"bytes=1000-2000", 1000, Kind::unsatisfiable, 0, 0},
      {"bytes=-0", 1000, Kind::unsatisfiable, 0, 0},
      {"bytes=0-", 0, Kind::unsatisfiable, 0, 0},
      {"bytes=-1", 0, Kind::unsatisfiable, 0, 0},
      {"bytes=0-1,5-6", 1000, Kind::wholeFile, 0, 0},
      {"bytes=5-3", 1000, Kind::wholeFile, 0, 0},
      {"bytes=-", 1000, Kind::wholeFile, 0, 0},
      {"bytes=abc", 1000, Kind::wholeFile, 0, 0},
      {"bytes=1-2x", 1000, Kind::wholeFile, 0, 0},
      {"bytes 0-1", 1000, Kind::wholeFile, 0, 0},
      {"items=0-1", 1000, Kind::wholeFile, 0, 0},
      {"bytes=99999999999999999999-", 1000, Kind::wholeFile, 0, 0},
      {"", 1000, Kind::wholeFile, 0, 0},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(c.header);
    const ByteRange range = parseByteRange(c.header, c.size);
    EXPECT_EQ(range.kind, c.kind);
    if (c.kind == Kind::partial) {
      EXPECT_EQ(range.first, c.first);
      EXPECT_EQ(range.last, c.last);
    }
  }
}

TEST(MimeTypeTest, ChoosesTheTypeByExtensionInAnyCase) {
  const std::pair<const char*, const char*> cases[] = {
      {"/media/a.mp4", "video/mp4"},
      {"/media/A.MKV", "video/x-matroska"},
      {"/media/clip.ts", "video/mp2t"},
      {"/media/film.mpeg", "video/mpeg"},
      {"/media/song.flac", "audio/flac"},
      {"/media/p.JPG", "image/jpeg"},
      {"/media/list.m3u8", "application/vnd.apple.mpegurl"},
      {"/media/sub.srt", "application/x-subrip"},
      {"/media/sub.vtt", "text/vtt"},
      {"/media/sub.ass", "text/x-ssa"},
      {"/media/unknown.xyz", "application/octet-stream"},
      {"/media/no_extension", "application/octet-stream"},
      {"/media.mp4/no_extension", "application/octet-stream"},
      {"/media/trailing.", "application/octet-stream"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mimeTypeForPath(c.first), c.second) << c.first;
  }
}

}  // namespace
}  // namespace tavrin
