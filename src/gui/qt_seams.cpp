#include "gui/qt_seams.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
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

int ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
            QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, caption, text, buttons, parent);
  box.setTextFormat(Qt::PlainText);
  return box.exec();
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
  const int answer = ShowBox(parent_, qt_icon, QString::fromStdString(caption),
                             QString::fromStdString(text), qt_buttons);
  if (buttons == MsgButtons::Ok) return MsgResult::Ok;
  return answer == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
}

void QtDialogs::ErrorBox(const std::string& text) {
  if (error_sink) {
    error_sink(text);
    return;
  }
  ShowBox(parent_, QMessageBox::Critical, QStringLiteral("zVK-Analog"),
          QString::fromStdString(text));
}

QString DefaultSuffix(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(u'|');
  if (parts.size() < 2) return {};
  const QString pattern = parts[1].split(u';').first().trimmed();
  if (!pattern.startsWith(QStringLiteral("*."))) return {};
  const QString suffix = pattern.mid(2);
  return suffix.contains(u'*') ? QString() : suffix;
}

QString FilterSuffix(const QString& filter) {
  const qsizetype open = filter.indexOf(QStringLiteral("(*."));
  if (open < 0) return {};
  QString suffix;
  for (qsizetype i = open + 3; i < filter.size() && filter[i].isLetterOrNumber(); ++i)
    suffix += filter[i];
  return suffix;
}

SaveFileChooser SaveFileDialog(QWidget* parent) {
  return [parent](const QString& caption, const QString& filter, bool continue_existing) {
    QFileDialog dialog(parent, caption, QString(), filter);
    dialog.setObjectName(QStringLiteral("SaveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (continue_existing) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDefaultSuffix(FilterSuffix(dialog.selectedNameFilter()));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& f) { dialog.setDefaultSuffix(FilterSuffix(f)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    QString path = dialog.selectedFiles().first();
    // A dialog of the platform's own may not add it.
    const QString suffix = FilterSuffix(dialog.selectedNameFilter());
    if (!suffix.isEmpty() && !path.endsWith(u'/') && !QFileInfo(path).fileName().contains(u'.'))
      path += u'.' + suffix;
    return path;
  };
}

std::optional<std::string> QtDialogs::OpenFile(const std::string& filter) {
  QFileDialog dialog(parent_);
  dialog.setObjectName(QStringLiteral("OpenDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(QtFileFilter(filter).split(QStringLiteral(";;")));
  dialog.setDefaultSuffix(DefaultSuffix(filter));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  // UTF-8, the form every file name takes in the core (util/file_path), on Windows too.
  return dialog.selectedFiles().first().toStdString();
}

}  // namespace zvk::gui
