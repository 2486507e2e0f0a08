// The window's pure rules, called directly.
#include <gtest/gtest.h>

#include <QUrlQuery>

#include "Rules.h"

using namespace rules;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

TEST(StatusBarRules, TheLastPanelReachesToTheBarsEndAndBeyond) {
  const std::vector<int> widths = {200, 50};
  EXPECT_EQ(StatusPanelAt(0, widths, 671), 0);
  EXPECT_EQ(StatusPanelAt(199, widths, 671), 0);
  EXPECT_EQ(StatusPanelAt(200, widths, 671), 1);
  EXPECT_EQ(StatusPanelAt(250, widths, 671), 1);
  EXPECT_EQ(StatusPanelAt(670, widths, 671), 1);
  EXPECT_EQ(StatusPanelAt(870, widths, 671), 1);
  EXPECT_EQ(StatusPanelAt(871, widths, 671), -1);
  EXPECT_EQ(StatusPanelAt(-1, widths, 671), -1);
}

TEST(MessageRules, AFullStopIsAddedAfterCharactersThatSortAfterIt) {
  EXPECT_EQ(ErrorBoxText(U("Stream read error")), U("Stream read error."));
  EXPECT_EQ(ErrorBoxText(U("done.")), U("done."));
  EXPECT_EQ(ErrorBoxText(U("what?")), U("what?."));  // '?' sorts after '.'
  EXPECT_EQ(ErrorBoxText(U("(x)")), U("(x)"));       // ')' sorts before '.'
  EXPECT_EQ(ErrorBoxText(U("a-")), U("a-"));
  EXPECT_EQ(ErrorBoxText(U("错误")), U("错误."));
  EXPECT_EQ(ErrorBoxText(QString()), QString());
}

TEST(ShellRules, TheAuthorsAddresses) {
  EXPECT_EQ(AuthorWebUrl().toString(), U("http://www.example.com/"));
  const QUrl mail = AuthorMailUrl();
  EXPECT_EQ(mail.scheme(), U("mailto"));
  EXPECT_EQ(mail.path(), U("velomi@example.com"));
  const QUrlQuery query(mail);
  EXPECT_EQ(query.queryItemValue(U("subject")), U("VelomiMP3批量更名软件用户意见或建议"));
  EXPECT_TRUE(query.hasQueryItem(U("cc")));
  EXPECT_EQ(query.queryItemValue(U("cc")), QString());
  EXPECT_EQ(mail.toEncoded(),
            QByteArray("mailto:velomi@example.com?subject=VelomiMP3"
                       "%E6%89%B9%E9%87%8F%E6%9B%B4%E5%90%8D%E8%BD%AF%E4%BB%B6%E7%94%A8"
                       "%E6%88%B7%E6%84%8F%E8%A7%81%E6%88%96%E5%BB%BA%E8%AE%AE&cc="));
}
