// Saves the title of one WMA file through the core, as the window saves the shown file (one
// journalled save), so that a test can count what the save costs. Usage: save_once FILE TITLE
#include <QString>
#include <exception>

#include "core/Batch.h"
#include "tags/wma/TWmaTag.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  try {
    TIDwma tag;
    if (!tag.ReadFromFile(argv[1])) return 2;
    tag.SetTitle(QString::fromUtf8(argv[2]).toStdU16String());
    core::Journal journal;
    core::ApplyOptions options;
    options.journal = &journal;
    const core::ApplyReport report = core::SaveTag(tag, argv[1], options);
    return report.results.at(0).outcome == core::Outcome::kDone && report.undoable ? 0 : 1;
  } catch (const std::exception&) {
    return 3;
  }
}
