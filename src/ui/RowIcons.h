// The three 16 x 16 row marks of the track list, drawn here: 0 a green note (as added), 1 a green
// tick (the last write or rename succeeded), 2 a red cross (it failed).
#pragma once

#include <QIcon>
#include <QPixmap>
#include <array>

namespace rowicons {

enum Mark { kNote = 0, kTick = 1, kCross = 2 };

QPixmap DrawMark(int mark);
std::array<QIcon, 3> MakeImageList();

}  // namespace rowicons
