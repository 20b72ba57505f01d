#include "platform/window_model.h"

#include <algorithm>
#include <stdexcept>

#include "platform/encoding.h"

namespace platform {
namespace {

[[noreturn]] void OutOfBounds(int index) {
  throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}

}  // namespace

WindowModel::WindowModel() {
  static const std::string kButton1 = gbk("检测(&C)");
  static const std::string kButton2 = gbk("下载更新(&D)");
  static const std::string kButton3 = gbk("关闭(&X)");
  texts_ = {{Control::Edit2, ""},        {Control::CurrentDirEdit, ""}, {Control::Label8, "--"},
            {Control::Label10, "--"},    {Control::Button1, kButton1},  {Control::Button2, kButton2},
            {Control::Button3, kButton3}};
  enabled_ = {{Control::Edit2, true},   {Control::CurrentDirEdit, true}, {Control::Label8, true},
              {Control::Label10, true}, {Control::Button1, true},        {Control::Button2, false},
              {Control::Button3, true}};
}

void WindowModel::AddRow(bool checked, const std::string& name, const std::string& type, const std::string& size,
                         const std::string& date, const std::string& status) {
  rows_.push_back(Row{checked, {name, type, size, date, status}});
}

const WindowModel::Row& WindowModel::RowAt(int row) const {
  if (row < 0 || row >= RowCount()) OutOfBounds(row);
  return rows_[static_cast<size_t>(row)];
}

WindowModel::Row& WindowModel::RowAt(int row) {
  return const_cast<Row&>(static_cast<const WindowModel*>(this)->RowAt(row));
}

std::string WindowModel::RowText(int row, FileColumn column) const {
  return RowAt(row).texts[static_cast<int>(column)];
}

void WindowModel::SetRowText(int row, FileColumn column, const std::string& text) {
  RowAt(row).texts[static_cast<int>(column)] = text;
}

void WindowModel::SetProgressRange(ProgressBar bar, int min, int max) {
  Bar& state = bars_[Index(bar)];
  state.min = min;
  state.max = std::max(min, max);
  state.position = std::clamp(state.position, state.min, state.max);
}

void WindowModel::SetProgressPosition(ProgressBar bar, int position) {
  Bar& state = bars_[Index(bar)];
  state.position = std::clamp(position, state.min, state.max);
}

void WindowModel::SetStatusPanel(int panel, const std::string& text) {
  if (panel < 0 || panel > 1) OutOfBounds(panel);
  panels_[panel] = text;
}

std::string WindowModel::StatusPanel(int panel) const {
  if (panel < 0 || panel > 1) OutOfBounds(panel);
  return panels_[panel];
}

}  // namespace platform
