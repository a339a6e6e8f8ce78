// The file dialogs behind the dialog seam and the save dialogs: their filters and default
// extensions, and what a typed path, a typed name without its extension and a cancel give back;
// and the seam's boxes.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <optional>

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

// The save dialogs of "Record…", the exports and the log: a name typed without an extension
// gets the chosen filter's, and none under "All files".
TEST(FileDialog, SaveAddsTheChosenFiltersExtensionToANameTypedWithoutOne) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString csv = QStringLiteral("CSV files (*.csv);;All files (*)");
  const struct {
    const char* what;
    QString filter;
    int chosen;  // the filter picked in the dialog
    const char* typed;
    const char* saved;
    bool continued;
  } cases[] = {
      {"record, CSV files", csv, 0, "rec", "rec.csv", true},
      {"record, typed with its extension", csv, 0, "rec.csv", "rec.csv", true},
      {"record, all files", csv, 1, "rec", "rec", true},
      {"chart", QStringLiteral("PNG images (*.png)"), 0, "chart", "chart.png", false},
      {"log", QStringLiteral("Text files (*.txt *.log);;All files (*)"), 0, "log", "log.txt",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    AnswerNextFileDialog([&](QFileDialog& d) {
      d.setDirectory(dir.path());
      if (c.chosen > 0) {
        // Picked as a user picks it, from the dialog's list of filters.
        auto* types = d.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(types, nullptr);
        types->setCurrentIndex(c.chosen);
        emit types->activated(c.chosen);
        emit types->textActivated(types->itemText(c.chosen));
      }
      ChooseFile(d, QString::fromLatin1(c.typed));
    });
    EXPECT_EQ(SaveFileDialog(nullptr)(QStringLiteral("Save"), c.filter, c.continued).toStdString(),
              dir.filePath(QString::fromLatin1(c.saved)).toStdString());
  }
  EXPECT_EQ(FilterSuffix(QStringLiteral("All files (*)")), QString());
}

TEST(Boxes, ShowTheirTextAsItStandsNeverAsMarkup) {
  const QString text = QStringLiteral("Write <b>Bay</b> 3 & 4?");
  struct Case {
    const char* what;
    std::function<void(QtDialogs&)> show;
  };
  const Case cases[] = {
      {"message box",
       [](QtDialogs& d) {
         EXPECT_EQ(d.MessageBox("Confirm", "Write <b>Bay</b> 3 & 4?", MsgIcon::Question,
                                MsgButtons::YesNo),
                   MsgResult::Yes);
       }},
      {"error box", [](QtDialogs& d) { d.ErrorBox("Write <b>Bay</b> 3 & 4?"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<Qt::TextFormat> format;
    QString shown;
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [&, timer] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      timer->stop();
      timer->deleteLater();
      format = box->textFormat();
      shown = box->text();
      QAbstractButton* yes = box->button(QMessageBox::Yes);
      QTest::mouseClick(yes ? yes : box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    timer->start();
    QtDialogs dialogs;
    c.show(dialogs);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown, text);
  }
}

}  // namespace
}  // namespace zvk::gui
