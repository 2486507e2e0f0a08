// The core's actions on files, for the window and the command line: carrying out plans
// (Apply.h), undoing them (Undo.h) and settling those a crash cut short (Recovery.h).
#pragma once

#include "core/journal/Recovery.h"
#include "core/journal/Undo.h"
#include "core/plans/Apply.h"
