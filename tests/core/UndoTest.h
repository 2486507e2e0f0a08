// The fixture of the tests of undo and the journal as users meet them: real files in a temporary
// folder, the journal in a temporary state folder.
#pragma once

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/Batch.h"
#include "core/journal/Records.h"
#include "platform/FaultInjection.h"

namespace undotest {

using namespace core;
using testfiles::TempDir;

inline QString U(const char* s) { return QString::fromUtf8(s); }

class UndoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testfiles::UseStateFolder(state.path());
    folder = files.path() + "/";
  }
  void TearDown() override {
    onActionStep = nullptr;
    onRecoveryStep = nullptr;
    platform::fault::Reset();
  }
  ApplyOptions Options() {
    ApplyOptions options;
    options.journal = &journal;
    return options;
  }
  Track Make(const std::string& name, const char* title, const char* artist) {
    files.Write(name, testfiles::FromString("\xFF\xFB\x90\x64 audio of " + name));
    return {folder, name, U(title), U(artist), 0};
  }
  // Appends a record to the journal as another program (or an attacker) would write it.
  void Append(QJsonObject record, const char* type, const QString& id) {
    record.insert("#", type);
    record.insert("v", 2);
    record.insert("id", id);
    record.insert("w", "elsewhere-1-1");
    record.insert("time", "2026-01-01T00:00:00.000");
    std::filesystem::create_directories(state.path() + "/velomi");
    std::ofstream(state.path() + "/velomi/journal.jsonl", std::ios::app | std::ios::binary)
        << QJsonDocument(record).toJson(QJsonDocument::Compact).toStdString() << "\n";
  }
  int Done(const UndoReport& u) {
    int n = 0;
    for (const auto& e : u.entries) n += e.outcome == Outcome::kDone;
    return n;
  }

  TempDir files, state;
  std::string folder;
  Journal journal{QString::fromStdString(state.path() + "/velomi")};
};

}  // namespace undotest
