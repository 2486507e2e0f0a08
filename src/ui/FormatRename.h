// The dialog of the list's "按格式改名…": a name template, remembered across runs, and a line of
// what it gives the shown file.
#pragma once

#include <QDialog>
#include <optional>

#include "core/fields/NameTemplate.h"

class QDialogButtonBox;
class QLabel;
class QLineEdit;

class TFrmFormatRename : public QDialog {
  Q_OBJECT

 public:
  // `sample` is the shown file's track, whose new name the dialog shows; none when no file is
  // shown.
  TFrmFormatRename(QWidget* parent, std::optional<core::Track> sample);

  QLineEdit* EdtFormat = nullptr;
  QLabel* LPreview = nullptr;
  QDialogButtonBox* Buttons = nullptr;

  // The template typed, once it parses (OK is enabled only then).
  const std::optional<core::NameTemplate>& Template() const { return template_; }

  // The template last used, in the window's settings; "%a - %t" at first.
  static QString LastFormat();
  static void RememberFormat(const QString& format);

 signals:
  // The template typed changed: the one it now gives, none while it does not parse.
  void templateChanged(const std::optional<core::NameTemplate>& format);

 private:
  void FormatEdited();

  std::optional<core::Track> sample_;
  std::optional<core::NameTemplate> template_;
};
