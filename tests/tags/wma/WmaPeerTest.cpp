// Real WMA files read by other programs after our saves: mutagen and ffprobe, where they are
// installed (Debian's python3-mutagen and ffmpeg).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "AsfFiles.h"
#include "TestFiles.h"
#include "tags/wma/TWmaTag.h"

using namespace asffiles;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

// The standard output of a shell command; empty when it fails.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    if (::pclose(pipe) != 0) out.clear();
  }
  return out;
}

}  // namespace

TEST(WmaFixture, ValuesNotTouchedSurviveASave) {
  // wma_typed.wma: a Rating, numbers, a BOOL and bytes under field names, ffmpeg's "date". Saves
  // with a new title and artist keep every other value, as we read it and as mutagen does.
  TempDir dir;
  std::string before = dir.CopyData("wma_typed.wma", "before.wma");
  std::string path = dir.CopyData("wma_typed.wma", "song.wma");
  TIDwma tag;
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_TRUE(tag.ReadFromFile(path));
    EXPECT_EQ(tag.Year + u"," + tag.Track + u"," + tag.EncodedBy + u"," + tag.Url,
              u"2005,4,12,1234567890123");
    EXPECT_EQ(tag.Genre + tag.Lyrics, u"");  // a BOOL and bytes are not shown
    tag.SetTitle(u"新标题");
    tag.SetArtist(u"歌手");
    ASSERT_TRUE(tag.SaveToFile(path));
  }
  const std::string compare = testfiles::DataFile("../tags/wma/mutagen_listing.py") + " " + before +
                              " " + path + " --changed Title --changed title --changed Author";
  const int status = std::system(compare.c_str());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "mutagen is missing";
  EXPECT_EQ(status, 0) << compare;
}

TEST(WmaFixture, OtherReadersStepOverThePadding) {
  // ffprobe (ffmpeg) and mutagen read the title and the audio of a header that ends in a Padding
  // Object: one written in the old header's room, one grown with room to spare.
  if (Output("command -v ffprobe && /usr/bin/python3 -c 'import mutagen.asf'").empty()) {
    GTEST_SKIP() << "ffprobe or /usr/bin/python3 with mutagen is missing";
  }
  for (const std::u16string title : {u"Short", u"A title too long for the header's old room"}) {
    TempDir dir;
    const std::string path = dir.CopyData("wma_ascii.wma", "song.wma");
    TIDwma tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    tag.SetTitle(title);
    wma::SavePlan plan;
    ASSERT_TRUE(tag.PlanSave(path, plan));
    ASSERT_TRUE(plan.InPlace() ? asffiles::WriteInPlace(path, plan) : wma::ReplaceFile(path, plan));
    ASSERT_LT(WithoutPadding(ReadAll(path)).size(), ReadAll(path).size()) << "padded";
    const std::string text(title.begin(), title.end());
    EXPECT_EQ(Output("ffprobe -v error -show_entries format_tags=title:stream=codec_name "
                     "-of default=nw=1 '" +
                     path + "'"),
              "codec_name=wmav2\nTAG:title=" + text + "\n");
    EXPECT_EQ(
        Output("/usr/bin/python3 -c 'import mutagen.asf, sys; f = mutagen.asf.ASF(sys.argv[1]); "
               "print(f[\"Title\"][0], round(f.info.length))' '" +
               path + "'"),
        text + " 1\n");
  }
}

TEST(WmaFixture, AGrownHeaderKeepsTheFileSizeAndTheDuration) {
  // The File Properties Object's File Size moves with the file's size (mutagen left
  // wma_typed.wma's behind, and it stays as far behind); ffmpeg works out the duration from it.
  if (Output("command -v ffprobe").empty()) GTEST_SKIP() << "ffprobe is missing";
  for (const char* name : {"wma_ascii.wma", "wma_chinese.wma", "wma_no_metadata.wma",
                           "wma_typed.wma", "ui_song.wma", "ui_plain.wma"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string path = dir.CopyData(name, "song.wma");
    const std::string duration =
        "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'";
    const std::string before = Output(duration);
    const auto fileSizeField = [](const Bytes& file) {
      const auto at =
          std::search(file.begin(), file.end(), kFilePropertiesId.begin(), kFilePropertiesId.end());
      uint64_t value = 0;
      for (int i = 7; at != file.end() && i >= 0; --i) value = (value << 8) | at[40 + i];
      return int64_t(value);
    };
    const Bytes old = ReadAll(path);
    TIDwma tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    tag.SetTitle(std::u16string(300, u'长'));
    wma::SavePlan plan;
    ASSERT_TRUE(tag.PlanSave(path, plan));
    ASSERT_FALSE(plan.InPlace());
    ASSERT_TRUE(wma::ReplaceFile(path, plan));
    const Bytes saved = ReadAll(path);
    EXPECT_EQ(fileSizeField(saved) - fileSizeField(old), int64_t(saved.size() - old.size()));
    EXPECT_EQ(Output(duration), before);
  }
}
