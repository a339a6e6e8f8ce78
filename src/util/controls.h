// Window controls as plain values. They reproduce the event behaviour of the toolkit that the
// window logic relies on:
//  - setting a combo box's item index raises no change event; typing or picking an item does;
//  - checking a radio button that was not checked raises its click event and unchecks the
//    others of its group;
//  - changing a check box's state raises its click event;
//  - changing a spin edit's value raises its change event when its text changes.
// The Qt views mirror these values onto widgets and forward user actions to the User* calls.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zvk {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kNavy{0, 0, 128};
inline constexpr Rgb kPurple{128, 0, 128};
inline constexpr Rgb kBlue{0, 0, 255};

struct Label {
  std::string caption;
  Rgb color = kBlack;
  bool enabled = true;
  bool visible = true;
  bool bold = false;
};

struct GroupBox {
  std::string caption;
  bool visible = true;
};

struct Edit {
  std::string text;
  std::string hint;
  bool enabled = true;
};

// A plain container of other controls.
struct Panel {
  bool visible = true;
};

struct Button {
  std::string caption;
  std::string hint;
  bool enabled = true;
  std::function<void()> on_click;
  void UserClick() {
    if (enabled && on_click) on_click();
  }
};

class ComboBox {
 public:
  std::vector<std::string> items;
  std::function<void()> on_change;

  const std::string& text() const { return text_; }
  int item_index() const { return index_; }

  // Program changes: no change event.
  void SetItemIndex(int index) {
    index_ = (index >= 0 && index < static_cast<int>(items.size())) ? index : -1;
    text_ = index_ >= 0 ? items[static_cast<std::size_t>(index_)] : std::string();
  }
  void SetTextSilently(std::string text) {
    text_ = std::move(text);
    index_ = IndexOf(text_);
  }
  // User changes: the change event follows.
  void UserPick(int index) {
    SetItemIndex(index);
    if (on_change) on_change();
  }
  void UserType(std::string text) {
    SetTextSilently(std::move(text));
    if (on_change) on_change();
  }

 private:
  int IndexOf(const std::string& text) const {
    for (std::size_t i = 0; i < items.size(); ++i)
      if (items[i] == text) return static_cast<int>(i);
    return -1;
  }
  std::string text_;
  int index_ = -1;
};

class CheckBox {
 public:
  std::string caption;
  std::string hint;
  std::function<void()> on_click;

  bool checked() const { return checked_; }
  void SetChecked(bool on) {
    if (on == checked_) return;
    checked_ = on;
    if (on_click) on_click();
  }
  void UserClick() { SetChecked(!checked_); }

 private:
  bool checked_ = false;
};

class RadioButton;

// Radio buttons that uncheck each other.
class RadioGroup {
 public:
  void Add(RadioButton* button) { members_.push_back(button); }
  const std::vector<RadioButton*>& members() const { return members_; }

 private:
  std::vector<RadioButton*> members_;
};

class RadioButton {
 public:
  std::string caption;
  std::function<void()> on_click;

  void Join(RadioGroup* group) {
    group_ = group;
    group->Add(this);
  }
  bool checked() const { return checked_; }
  void SetChecked(bool on) {
    if (on == checked_) return;
    if (!on) {
      checked_ = false;
      return;
    }
    if (group_)
      for (RadioButton* other : group_->members())
        if (other != this) other->checked_ = false;
    checked_ = true;
    if (on_click) on_click();
  }
  void UserClick() { SetChecked(true); }

 private:
  RadioGroup* group_ = nullptr;
  bool checked_ = false;
};

class SpinEdit {
 public:
  int min_value = 0;
  int max_value = 100;
  std::function<void()> on_change;

  int value() const { return value_; }
  const std::string& text() const { return text_; }
  // A value is kept within the limits, as the toolkit's spin edit keeps it (a reported offset of
  // -128 shows -127, the same as the box on screen). A change of value raises the change event
  // when the shown text changes.
  void SetValue(int v) {
    value_ = v < min_value ? min_value : v > max_value ? max_value : v;
    std::string t = std::to_string(value_);
    if (t == text_) return;
    text_ = std::move(t);
    if (on_change) on_change();
  }
  void UserSetValue(int v) { SetValue(v); }

 private:
  int value_ = 0;
  std::string text_ = "0";
};

struct StatusBar {
  std::string panels[2];
  int widths[2] = {300, 200};
};

struct Memo {
  std::vector<std::string> lines;
  bool visible = false;
};

// A horizontal progress gauge. Like the toolkit's, it shows a position beyond its ends at the
// nearer end.
struct Gauge {
  int min = 0;
  int max = 100;
  int progress = 0;
  bool visible = true;
  Rgb fore_color = kNavy;

  void SetProgress(int position) {
    progress = position > max ? max : position < min ? min : position;
  }
};

}  // namespace zvk
