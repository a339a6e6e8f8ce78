#include "gui/form_binding.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QSignalBlocker>

#include "util/controls.h"

namespace zvk::gui {

namespace {

QString Text(const std::string& s) {
  return QString::fromStdString(s);
}

// An editable box whose popup list is built when it first opens, not with the box: a window of
// many boxes would otherwise carry a list view with its scroll bars and frame for each from the
// start, though most are never opened.
class ListBox final : public QComboBox {
 public:
  explicit ListBox(QWidget* parent) : QComboBox(parent) {
    // Not setEditable(true): that builds the popup at once.
    setLineEdit(new QLineEdit(this));
    // Typed text is the model's business: no completion filling in items, no items added on
    // Enter.
    setCompleter(nullptr);
    setInsertPolicy(QComboBox::NoInsert);
  }

  void showPopup() override {
    if (!popup_sized_) {
      popup_sized_ = true;
      view()->setMinimumWidth(view()->sizeHintForColumn(0) + 24);
    }
    QComboBox::showPopup();
  }

 private:
  bool popup_sized_ = false;
};

}  // namespace

QComboBox* NewBoundCombo(ComboBox& model, QWidget* parent, const RunEvent& run) {
  QComboBox* combo = new ListBox(parent);
  for (const std::string& item : model.items) combo->addItem(Text(item));
  // `activated` comes only from the user (popup, arrow keys, Enter on a listed text);
  // `textEdited` only from typing. Programmatic changes raise neither.
  QObject::connect(combo, &QComboBox::activated, combo, [run, &model](int index) {
    run([&model, index] {
      // Enter on an unchanged text re-activates the shown item: no change, no event.
      if (index < 0 || (index == model.item_index() &&
                        model.text() == model.items[static_cast<std::size_t>(index)]))
        return;
      model.UserPick(index);
    });
  });
  QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo,
                   [run, &model](const QString& text) {
                     run([&model, &text] { model.UserType(text.toStdString()); });
                   });
  return combo;
}

void SyncGroup(QGroupBox* widget, const GroupBox& model) {
  if (const QString caption = Text(model.caption); widget->title() != caption)
    widget->setTitle(caption);
  if (widget->isHidden() == model.visible) widget->setVisible(model.visible);
}

void SyncLabel(QLabel* widget, const Label& model) {
  if (const QString caption = Text(model.caption); widget->text() != caption)
    widget->setText(caption);
  const QColor color(model.color.r, model.color.g, model.color.b);
  if (widget->palette().color(QPalette::WindowText) != color) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    widget->setPalette(p);
  }
  // Some labels are drawn bold for legibility; the model's bold only ever adds to that.
  if (model.bold && !widget->font().bold()) {
    QFont bold = widget->font();
    bold.setBold(true);
    widget->setFont(bold);
  }
  if (widget->isEnabled() != model.enabled) widget->setEnabled(model.enabled);
  if (widget->isHidden() == model.visible) widget->setVisible(model.visible);
}

void SyncCombo(QComboBox* widget, const ComboBox& model) {
  const QSignalBlocker block(widget);
  const QSignalBlocker block_edit(widget->lineEdit());
  const QString text = Text(model.text());
  if (widget->currentText() != text) {
    if (model.item_index() >= 0) widget->setCurrentIndex(model.item_index());
    if (widget->currentText() != text) widget->setEditText(text);
    // Long item texts: show where the code is.
    widget->lineEdit()->setCursorPosition(0);
  } else if (model.item_index() >= 0 && widget->currentIndex() != model.item_index()) {
    widget->setCurrentIndex(model.item_index());
  }
}

QLabel* FormBinding::AddLabel(const Label& model, QWidget* parent, const char* name,
                              QRect geometry) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);  // module texts may hold '<' or '&'
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  labels_.emplace_back(&model, label);
  return label;
}

QPushButton* FormBinding::AddButton(Button& model, QWidget* parent, const char* name,
                                    QRect geometry) {
  auto* button = new QPushButton(Text(model.caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  button->setToolTip(Text(model.hint));
  button->setFocusPolicy(Qt::NoFocus);  // speed buttons take no focus
  button->setAutoDefault(false);        // Enter in an edit of a dialog clicks nothing
  QObject::connect(button, &QPushButton::clicked, button,
                   [this, &model] { run_([&model] { model.UserClick(); }); });
  buttons_.emplace_back(&model, button);
  return button;
}

QComboBox* FormBinding::AddCombo(ComboBox& model, QWidget* parent, const char* name,
                                 QRect geometry) {
  QComboBox* combo = NewBoundCombo(model, parent, run_);
  combo->setObjectName(QString::fromLatin1(name));
  combo->setGeometry(geometry);
  combos_.emplace_back(&model, combo);
  return combo;
}

QLineEdit* FormBinding::AddEdit(Edit& model, QWidget* parent, const char* name, QRect geometry) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(geometry);
  edit->setToolTip(Text(model.hint));
  // An edit raises no event; the model reads its text when an action needs it.
  QObject::connect(edit, &QLineEdit::textEdited, edit,
                   [&model](const QString& text) { model.text = text.toStdString(); });
  edits_.emplace_back(&model, edit);
  return edit;
}

QGroupBox* FormBinding::AddGroup(const GroupBox& model, QWidget* parent, const char* name,
                                 QRect geometry) {
  auto* group = new QGroupBox(Text(model.caption), parent);
  group->setObjectName(QString::fromLatin1(name));
  group->setGeometry(geometry);
  groups_.emplace_back(&model, group);
  return group;
}

void FormBinding::Sync() {
  for (auto& [model, widget] : groups_) SyncGroup(widget, *model);
  for (auto& [model, widget] : labels_) SyncLabel(widget, *model);
  for (auto& [model, widget] : buttons_) {
    if (widget->isEnabled() != model->enabled) widget->setEnabled(model->enabled);
    if (const QString caption = Text(model->caption); widget->text() != caption)
      widget->setText(caption);
  }
  for (auto& [model, widget] : edits_) {
    if (const QString text = Text(model->text); widget->text() != text) {
      const QSignalBlocker block(widget);
      widget->setText(text);
    }
    if (widget->isEnabled() != model->enabled) widget->setEnabled(model->enabled);
  }
  for (auto& [model, widget] : combos_) SyncCombo(widget, *model);
}

}  // namespace zvk::gui
