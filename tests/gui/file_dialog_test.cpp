// The file dialog behind the dialog seam: its filter and default extension, and what a typed
// path, a typed name without its extension and a cancel give back.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "gui/qt_seams.h"
#include "scripted_file_dialog.h"

namespace zvk::gui {
namespace {

TEST(FileDialog, FilterDefaultExtensionAndAnswers) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString image = dir.filePath(QStringLiteral("app.bin"));
  {
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("image");
  }
  struct Case {
    const char* what;
    std::function<void(QFileDialog&)> answer;
    std::optional<std::string> chosen;
  };
  const std::string image_path = QFile::encodeName(image).toStdString();
  const Case cases[] = {
      {"typed", [&](QFileDialog& d) { ChooseFile(d, image); }, image_path},
      {"typed without its extension",
       [&](QFileDialog& d) {
         d.setDirectory(dir.path());
         ChooseFile(d, QStringLiteral("app"));
       },
       image_path},
      {"cancelled", [](QFileDialog& d) { d.reject(); }, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QStringList filters;
    QString suffix;
    AnswerNextFileDialog([&](QFileDialog& d) {
      filters = d.nameFilters();
      suffix = d.defaultSuffix();
      c.answer(d);
    });
    QtDialogs dialogs;
    EXPECT_EQ(dialogs.OpenFile("bin|*.bin"), c.chosen);
    EXPECT_EQ(filters, QStringList{QStringLiteral("bin (*.bin)")});
    EXPECT_EQ(suffix, QStringLiteral("bin"));
  }
  EXPECT_EQ(DefaultSuffix("all|*.*"), QString());
}

}  // namespace
}  // namespace zvk::gui
