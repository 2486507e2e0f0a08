// The 16 x 16 row marks of the track list, drawn here: 0 a green note (as added), 1 a green tick
// (the last write or rename succeeded), 2 a red cross (it failed); and the marks an action leaves
// beside them: 3 a blue arrow turning back (undone), 4 a grey dash (skipped by the plan), 5 a grey
// ring (not reached: the batch was cancelled first); and 6 an orange warning sign, the mark a row
// is added with when players show its tag garbled.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <array>

#include "core/model/TrackListModel.h"

namespace rowicons {

// The marks are the list model's; here by their short names.
using Mark = core::TrackListModel::Mark;
constexpr Mark kNote = Mark::kNote, kTick = Mark::kTick, kCross = Mark::kCross,
               kUndone = Mark::kUndone, kSkipped = Mark::kSkipped, kNotReached = Mark::kNotReached,
               kGarbled = Mark::kGarbled;
constexpr size_t kMarkCount = size_t{Mark::kGarbled} + 1;

QPixmap DrawMark(int mark);
// The list's three icons (note, tick, cross), as the window's image list holds them.
std::array<QIcon, 3> MakeImageList();
// Every mark, the image list's three first.
std::array<QIcon, kMarkCount> MakeMarks(const std::array<QIcon, 3>& imageList);

}  // namespace rowicons
