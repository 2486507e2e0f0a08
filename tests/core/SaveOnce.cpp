// Saves the title of one WMA or MP3 file through the core, as the window saves the shown file (one
// journalled save; an MP3 file's ID3v2 tag gets the title too), so that a test can count what the
// save costs. Usage: save_once FILE TITLE
#include <QString>
#include <exception>

#include "core/Batch.h"
#include "core/fields/Id3v2Fields.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  try {
    core::Journal journal;
    core::ApplyOptions options;
    options.journal = &journal;
    const QString title = QString::fromUtf8(argv[2]);
    if (core::TagKindOf(argv[1]) == core::TagKind::kMp3) {
      TIDmp3 tag;
      if (!tag.ReadFromFile(argv[1])) return 2;
      core::SetMp3Text(tag, core::TagField::kTitle, title);
      id3v2::Changes changes;
      core::SetChange(changes, core::TagField::kTitle, title);
      const core::ApplyReport report = core::SaveTag(tag, argv[1], options, changes);
      return report.results.at(0).outcome == core::Outcome::kDone && report.undoable ? 0 : 1;
    }
    TIDwma tag;
    if (!tag.ReadFromFile(argv[1])) return 2;
    tag.SetTitle(title.toStdU16String());
    const core::ApplyReport report = core::SaveTag(tag, argv[1], options);
    return report.results.at(0).outcome == core::Outcome::kDone && report.undoable ? 0 : 1;
  } catch (const std::exception&) {
    return 3;
  }
}
