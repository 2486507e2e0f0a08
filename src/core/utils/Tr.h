// The texts the core gives a person (reasons, refusals, plans, field names) are the window's
// Chinese, written in the code as they are shown. Each goes through Core::tr (or, in a table,
// QT_TRANSLATE_NOOP("Core", ...) and then Core::tr), so that a program can install a
// translation of the context "Core": velomi-tag does, in English, under a locale that is not
// Chinese. The window installs none and shows the texts as written.
#pragma once

#include <QCoreApplication>

namespace core {

class Core {
  Q_DECLARE_TR_FUNCTIONS(Core)
};

}  // namespace core
