// The fixture of velomi-tag's tests: the program run on real files in temporary folders, with its
// journal in a temporary state folder.
#pragma once

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace clitest {

using testfiles::TempDir;

struct Result {
  int status = -1;
  QByteArray out, err;
  QJsonObject Json() const { return QJsonDocument::fromJson(out).object(); }
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { testfiles::UseStateFolder(state.path()); }

  Result Tag(const std::vector<std::string>& args, const char* lang = "C.UTF-8") {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LANG", "LC_ALL", "LC_MESSAGES", "LANGUAGE"}) env.remove(name);
    env.insert(QString::fromLatin1(localeVariable), QString::fromLatin1(lang));
    p.setProcessEnvironment(env);
    QStringList list;
    // Arguments as bytes: QProcess encodes them back with the locale's codec (UTF-8 here), so
    // names that are not UTF-8 go through a shell instead.
    for (const auto& a : args) list << QString::fromStdString(a);
    p.start(QStringLiteral(VELOMI_TAG), list);
    p.waitForFinished(60000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
  }

  TempDir state, dir;
  const char* localeVariable = "LANG";  // the variable Tag sets to its locale
};

}  // namespace clitest
