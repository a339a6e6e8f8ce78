#include "gui/qt_seams.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace zvk::gui {

void QtEventPump::ProcessEvents() {
  if (before_events) before_events();
  QCoreApplication::processEvents();
}

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(u'|');
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    entries << QStringLiteral("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(u';', u' '));
  return entries.join(QStringLiteral(";;"));
}

MsgResult QtDialogs::MessageBox(const std::string& caption, const std::string& text, MsgIcon icon,
                                MsgButtons buttons) {
  QMessageBox::Icon qt_icon = QMessageBox::NoIcon;
  switch (icon) {
    case MsgIcon::None:
      break;
    case MsgIcon::Information:
      qt_icon = QMessageBox::Information;
      break;
    case MsgIcon::Warning:
      qt_icon = QMessageBox::Warning;
      break;
    case MsgIcon::Error:
      qt_icon = QMessageBox::Critical;
      break;
    case MsgIcon::Question:
      qt_icon = QMessageBox::Question;
      break;
  }
  if (before_box) before_box();
  const QMessageBox::StandardButtons qt_buttons =
      buttons == MsgButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
  QMessageBox box(qt_icon, QString::fromStdString(caption), QString::fromStdString(text),
                  qt_buttons, parent_);
  const int answer = box.exec();
  if (buttons == MsgButtons::Ok) return MsgResult::Ok;
  return answer == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
}

void QtDialogs::ErrorBox(const std::string& text) {
  if (error_sink) {
    error_sink(text);
    return;
  }
  QMessageBox::critical(parent_, QStringLiteral("zVK-Analog"), QString::fromStdString(text));
}

std::optional<std::string> QtDialogs::OpenFile(const std::string& filter) {
  const QString path =
      QFileDialog::getOpenFileName(parent_, QString(), QString(), QtFileFilter(filter));
  if (path.isEmpty()) return std::nullopt;
  return QFile::encodeName(path).toStdString();
}

}  // namespace zvk::gui
