// The fixture of the core's tests of plans, the journal and undo: real files in a temporary folder,
// and the journal in a temporary state folder, never in the real home.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "TestFiles.h"
#include "core/Batch.h"
#include "core/journal/Journal.h"
#include "core/plans/Plans.h"
#include "platform/FaultInjection.h"

namespace batchtest {

using namespace core;
using testfiles::TempDir;

inline QString U(const char* s) { return QString::fromUtf8(s); }

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testfiles::UseStateFolder(state.path());
    folder = files.path() + "/";
  }
  void TearDown() override { platform::fault::Reset(); }

  Track Make(const std::string& name, const char* title, const char* artist, int position = 0) {
    files.Write(name, testfiles::FromString("\xFF\xFB\x90\x64 audio of " + name));
    return {folder, name, U(title), U(artist), position};
  }
  std::string Journalled() { return (state.path() + "/velomi/journal.jsonl"); }

  TempDir files, state;
  std::string folder;
};

}  // namespace batchtest
