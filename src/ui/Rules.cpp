#include "Rules.h"

#include <QUrlQuery>

namespace rules {

int StatusPanelAt(int x, const std::vector<int>& widths, int barWidth) {
  int left = 0;
  for (size_t i = 0; i < widths.size(); ++i) {
    const int width = i + 1 == widths.size() ? barWidth : widths[i];
    if (left <= x && x < left + width) return static_cast<int>(i);
    left += widths[i];
  }
  return -1;
}

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

QUrl AuthorWebUrl() { return QUrl(kAuthorWebUrl); }

QUrl AuthorMailUrl() {
  QUrl url;
  url.setScheme(QStringLiteral("mailto"));
  url.setPath(kAuthorMail);
  QUrlQuery query;
  query.addQueryItem(QStringLiteral("subject"), kMailSubject);
  // An empty but present value: the link ends in "&cc=".
  query.addQueryItem(QStringLiteral("cc"), QStringLiteral(""));
  url.setQuery(query);
  return url;
}

}  // namespace rules
