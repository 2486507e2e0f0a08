// The MP3 tag object and Windows' read-only attribute.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "TestFiles.h"
#include "tags/mp3/TMp3Tag.h"

namespace {

using testfiles::Bytes;
using testfiles::TempDir;

DWORD Attributes(const std::string& path) {
  return ::GetFileAttributesW(testfiles::Fs(path).wstring().c_str());
}

// Saving clears the read-only attribute and keeps the others; a file too short for a tag is
// refused before anything changes, attribute included.
TEST(Mp3TagObject, SavingClearsTheReadOnlyAttribute) {
  TempDir dir;
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
  for (const char* name : {"song.mp3", "short.mp3"}) {
    const std::string path = std::string(name) == "song.mp3"
                                 ? dir.CopyData("mp3_v11_ascii.mp3", name)
                                 : dir.Write(name, Bytes(10, 1));
    ASSERT_TRUE(::SetFileAttributesW(testfiles::Fs(path).wstring().c_str(),
                                     kept | FILE_ATTRIBUTE_READONLY));
  }
  TIDmp3 t;
  ASSERT_TRUE(t.ReadFromFile(dir.File("song.mp3")));
  t.SetTitle("Changed");
  ASSERT_TRUE(t.SaveToFile(dir.File("song.mp3")));
  EXPECT_EQ(Attributes(dir.File("song.mp3")), kept);
  ASSERT_TRUE(t.ReadFromFile(dir.File("song.mp3")));
  EXPECT_EQ(t.Title, "Changed");

  EXPECT_FALSE(t.SaveToFile(dir.File("short.mp3")));
  EXPECT_EQ(Attributes(dir.File("short.mp3")), kept | FILE_ATTRIBUTE_READONLY);
}

}  // namespace
