// The file dialog behind the dialog seam: its filter and default extension, and what a pick, a
// typed name and a cancel give back.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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
      {"picked",
       [&](QFileDialog& d) {
         d.selectFile(image);
         static_cast<QDialog&>(d).accept();
       },
       image_path},
      {"typed without its extension",
       [&](QFileDialog& d) {
         d.setDirectory(dir.path());
         auto* name = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
         ASSERT_NE(name, nullptr);
         QTest::keyClicks(name, QStringLiteral("app"));
         // A name the dialog does not find brings up its warning box: closed, so the test fails
         // instead of waiting.
         QTimer::singleShot(1000, [] {
           QWidget* box = QApplication::activeModalWidget();
           if (box && !qobject_cast<QFileDialog*>(box)) box->close();
         });
         QTest::keyClick(name, Qt::Key_Return);
         if (d.isVisible()) d.reject();
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
