#include "params/dialog2.h"

#include <algorithm>
#include <stdexcept>

#include "params/settings.h"

namespace {

using Item = Dialog2::TreeItem;

constexpr Item kTree[] = {
    {0, "Properties", -1, -2},
    {1, "Image Opening", 110, -1},
    {2, "Formats", 111, 110},
    {3, "IFS", 120, 111},
    {1, "Image Saving", 0, -1},
    {2, "Formats", 1, 0},
    {3, "PNG", 2, 1},
    {3, "JPEG", 3, 1},
    {3, "FITS", 4, 1},
    {3, "TIFF", 6, 1},
    {3, "IFS", 121, 1},
    {4, "Y & Ey", 122, 121},
    {4, "Cb & Cr", 123, 121},
    {2, "Batch Operations", 5, 0},
    {1, "Image Printing", 94, -1},
    {1, "Basic Operations", 10, -1},
    {2, "Add/Subtract Constant", 11, 10},
    {2, "Multiply Divide by Constant", 12, 10},
    {2, "Shift but Keep Max", 9, 10},
    {2, "Gamma", 13, 10},
    {2, "Add/Subtract Color", 14, 10},
    {2, "Interpolate/Extrapolate Color", 15, 10},
    {2, "Scale and Shift to [0,255]", 16, 10},
    {2, "Set Curve Parameters", 38, 10},
    {3, "Apply Curve", 79, 38},
    {1, "Geometric", 41, -1},
    {2, "Arbitrary Rotation", 42, 41},
    {2, "2 Point Registration", 44, 41},
    {2, "4 Point Registration", 45, 41},
    {2, "Create Blank Image", 46, 41},
    {1, "Resizing Methods", 20, -1},
    {2, "2X Enlargement", 21, 20},
    {3, "Xin Li", 22, 21},
    {3, "Windowless Xin Li", 27, 21},
    {4, "BP Post Processing ", 28, 27},
    {3, "(Old) Data Dependent Lanczos", 26, 21},
    {3, "Data Dependent Lanczos", 31, 21},
    {3, "Jensen Hybrids", 23, 21},
    {2, "Odd", 24, 20},
    {3, "Modified B-Spline", 25, 24},
    {2, "Pseudo Inverse", 29, 20},
    {2, "Arbitrary", 30, 20},
    {3, "Bicubic", 32, 30},
    {3, "Lanczos", 33, 30},
    {3, "Triangulation (crude)", 34, 30},
    {3, "Stair Step Lanczos", 35, 30},
    {3, "Pyramid Simulation", 36, 30},
    {2, "Presharpening for Enlargement", 37, 20},
    {2, "Seam Carving", 81, 20},
    {1, "Blur/Sharpen 1", 50, -1},
    {2, "3x3 Average", 51, 50},
    {2, "Gaussian Blur", 59, 50},
    {2, "Lens/Motion Blur", 52, 50},
    {2, "Median", 53, 50},
    {2, "WMMR (Median Type)", 54, 50},
    {2, "Bilateral Filter", 55, 50},
    {2, "Isophote Smoothing", 56, 50},
    {2, "Unsharp Mask", 58, 50},
    {2, "Jensen Edge Enhancement", 57, 50},
    {2, "Xsharpen", 105, 50},
    {1, "Blur/Sharpen 2", 124, -1},
    {2, "Tschumperle Regularization", 135, 124},
    {2, "Weickert Shock Filter", 136, 124},
    {2, "Periodic Smoothing", 140, 124},
    {3, "Index Offsets", 141, 140},
    {2, "Deconvolution", 137, 124},
    {3, "Regularization Weights 1", 138, 137},
    {3, "Regularization Weights 2", 139, 137},
    {2, "NL Means", 142, 124},
    {2, "Hysteresis Smoothing", 47, 124},
    {2, "Fast Bilateral Approx.", 48, 124},
    {2, "PoissonSharpener", 84, 124},
    {1, "Stack Images", 65, -1},
    {2, "Extended DOF 2", 80, 65},
    {2, "Extended DOF 3", 83, 65},
    {2, "Pyramid Fusion", 61, 65},
    {2, "Translational Alignment", 69, 65},
    {2, "Alignment", 68, 65},
    {2, "Contrast/Brightness", 66, 65},
    {2, "Tone Map 1", 78, 65},
    {2, "Tone Map 2", 74, 65},
    {1, "Layer", 60, -1},
    {2, "Interpolate/Extrapolate", 62, 60},
    {2, "Match Canvas Sizes", 63, 60},
    {2, "Match Top to Bottom Layer", 64, 60},
    {2, "Block Alignment", 73, 60},
    {2, "Show Combined", 67, 60},
    {2, "Blended Transfer", 82, 60},
    {1, "Mask", 70, -1},
    {2, "Mask by Color", 71, 70},
    {2, "Mask by Edge Detection", 72, 70},
    {2, "Draw Bar Pattern", 116, 70},
    {2, "Smooth Mask", 117, 70},
    {1, "Paint", 75, -1},
    {2, "Input Texture", 76, 75},
    {2, "Tschumperle Inpainting", 77, 75},
    {1, "Conditional Operations", 90, -1},
    {1, "View", 91, -1},
    {2, "Scroll Amount", 114, 91},
    {2, "Scroll Lock", 115, 91},
    {2, "Size to Fit Screen", 92, 91},
    {1, "Miscellaneous", 93, -1},
    {1, "Program Steps", 100, -1},
    {2, "Steps 1 to 16", 101, 100},
    {2, "Steps 17 to 32", 102, 100},
};
static_assert(std::size(kTree) == 105);

// Where each page's item goes in the item table: one past its id, except for these eight,
// which sit at their own id. Callers have always opened them by passing the id less one,
// and the argument slots this leaves empty (111, 115, 123) select nothing; both stay.
int SlotOf(int page) {
  switch (page) {
    case 110:
    case 111:
    case 114:
    case 115:
    case 120:
    case 121:
    case 122:
    case 123:
      return page;
    default:
      return page + 1;
  }
}

const std::array<int, Dialog2::kItemSlots>& ItemTable() {
  static const std::array<int, Dialog2::kItemSlots> table = [] {
    std::array<int, Dialog2::kItemSlots> t;
    t.fill(Dialog2::kNoItem);
    for (const Item& item : kTree) t[static_cast<size_t>(SlotOf(item.page))] = item.page;
    return t;
  }();
  return table;
}

}  // namespace

std::span<const Dialog2::TreeItem> Dialog2::Tree() { return kTree; }

int Dialog2::ItemPage(int index) {
  if (index < 0 || index >= kItemSlots) return kNoItem;
  return ItemTable()[static_cast<size_t>(index)];
}

Dialog2::Dialog2(Settings& target) : target_(target) {}

DialogResult Dialog2::RunPage(int page, int focusRow, int mode) {
  if (mode != 1 && (!target_.autoQuery || mode == -1)) return DialogResult::Ok;
  startIndex_ = std::clamp(page + 1, 0, kItemSlots - 1);
  focusRow_ = std::clamp(focusRow, 1, kRows);
  Init();
  const DialogResult result = GetUi().ShowPropertiesDialog(*this);
  return result == DialogResult::Ok ? DialogResult::Ok : DialogResult::Cancel;
}

void Dialog2::Init() {
  const int page = ItemPage(startIndex_);
  if (page != kNoItem) ShowPage(page);
}

Dialog2::Row& Dialog2::At(int row) {
  if (row < 1 || row > kRows) throw std::out_of_range("row out of range");
  return rows_[static_cast<size_t>(row - 1)];
}
const Dialog2::Row& Dialog2::At(int row) const {
  if (row < 1 || row > kRows) throw std::out_of_range("row out of range");
  return rows_[static_cast<size_t>(row - 1)];
}

const std::string& Dialog2::Label(int row) const { return At(row).label; }
const std::string& Dialog2::Text(int row) const { return At(row).text; }
const std::vector<std::string>& Dialog2::Suggestions(int row) const { return At(row).suggestions; }
void Dialog2::SetText(int row, const std::string& text) { At(row).text = text; }

int Dialog2::TakeFocusRow() {
  const int row = focusRow_;
  focusRow_ = 1;
  return row;
}

void Dialog2::ShowPage(int page) {
  currentPage_ = page;
  rows_ = {};
  const Page* p = FindPage(page);
  if (!p) return;
  for (const PageRow& r : p->rows) {
    Row& row = At(r.row);
    row.label = p->labelOf ? p->labelOf(target_, r.row) : r.label;
    if (r.kind == RowKind::Label) continue;
    row.text = row.shown = ShowRow(target_, r);
    // The list never repeats the value the box already shows.
    for (const std::string& s : r.suggestions) {
      if (s != row.text) row.suggestions.push_back(s);
    }
  }
}

bool Dialog2::ExchangePage() {
  const Page* p = FindPage(currentPage_);
  if (!p) return true;
  bool edited = false;
  for (const PageRow& r : p->rows) {
    if (r.kind != RowKind::Label && At(r.row).text != At(r.row).shown) edited = true;
  }
  if (!edited) return true;
  std::vector<const PageRow*> order;
  for (int first : p->readOrder) {
    for (const PageRow& r : p->rows) {
      if (r.row == first) order.push_back(&r);
    }
  }
  for (const PageRow& r : p->rows) {
    if (std::find(order.begin(), order.end(), &r) == order.end()) order.push_back(&r);
  }
  for (const PageRow* r : order) {
    if (r->kind == RowKind::Label) continue;
    Row& row = At(r->row);
    if (row.text == row.shown && !r->readWhenPageEdited) continue;
    const ReadOutcome outcome = ReadRow(target_, *r, row.text);
    if (outcome == ReadOutcome::NotInteger || outcome == ReadOutcome::NotNumber) {
      GetUi().MessageBox(outcome == ReadOutcome::NotInteger ? "Please enter an integer."
                                                            : "Please enter a number.",
                         "", {MessageButtons::Ok, MessageIcon::Warning});
      focusRow_ = r->row;
      return false;
    }
  }
  if (p->after) p->after(target_);
  // What is stored now is what the page stands for; a second read of the same texts
  // must not apply them again.
  for (const PageRow& r : p->rows) {
    if (r.kind != RowKind::Label) At(r.row).shown = At(r.row).text;
  }
  return true;
}

void Dialog2::SelectPage(int page) {
  ExchangePage();
  ShowPage(page);
}

bool Dialog2::PressOk() { return ExchangePage(); }

void Dialog2::RestoreDefaults() {
  if (const Page* p = FindPage(currentPage_)) RestorePageDefaults(target_, *p);
  ShowPage(currentPage_);
}

void Dialog2::RestoreAllDefaults() {
  target_.ResetToDefaults();
  ShowPage(currentPage_);
}
