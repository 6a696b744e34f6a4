#include "qt/dialogs.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <vector>

#include "params/dialog1.h"
#include "params/dialog2.h"

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

PropertiesDialog::PropertiesDialog(Dialog2& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setWindowTitle(QStringLiteral("Properties"));
  tree_ = new QTreeWidget(this);
  tree_->setHeaderHidden(true);
  tree_->setMinimumWidth(260);
  // Each item is the last child of the nearest earlier item one level up.
  std::vector<QTreeWidgetItem*> parents;
  for (const Dialog2::TreeItem& t : Dialog2::Tree()) {
    QTreeWidgetItem* item = (t.depth == 0 || parents.size() < size_t(t.depth))
                                ? new QTreeWidgetItem(tree_)
                                : new QTreeWidgetItem(parents[size_t(t.depth - 1)]);
    item->setText(0, QString::fromUtf8(t.title));
    item->setData(0, Qt::UserRole, t.page);
    parents.resize(size_t(t.depth));
    parents.push_back(item);
    itemOfPage_.emplace(t.page, item);
  }

  auto* rows = new QGridLayout;
  for (int r = 0; r < kRows; ++r) {
    labels_[size_t(r)] = new QLabel(this);
    labels_[size_t(r)]->setMinimumWidth(220);
    auto* box = new QComboBox(this);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setMinimumWidth(200);
    boxes_[size_t(r)] = box;
    rows->addWidget(labels_[size_t(r)], r, 0);
    rows->addWidget(box, r, 1);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* restore =
      buttons->addButton(QStringLiteral("Restore Defaults"), QDialogButtonBox::ResetRole);
  QPushButton* restoreAll =
      buttons->addButton(QStringLiteral("Restore All Defaults"), QDialogButtonBox::ResetRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &PropertiesDialog::onOk);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(restore, &QPushButton::clicked, this, [this] {
    pushTexts();
    model_.RestoreDefaults();
    showModel();
  });
  connect(restoreAll, &QPushButton::clicked, this, [this] {
    model_.RestoreAllDefaults();
    showModel();
  });
  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item, QTreeWidgetItem*) { onItemChanged(item); });

  auto* right = new QVBoxLayout;
  right->addLayout(rows);
  right->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(tree_);
  top->addLayout(right, 1);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top, 1);
  all->addWidget(buttons);

  filling_ = true;
  const auto it = itemOfPage_.find(model_.CurrentPage());
  if (it != itemOfPage_.end()) {
    tree_->setCurrentItem(it->second);
    tree_->scrollToItem(it->second);
  }
  filling_ = false;
  showModel();
}

void PropertiesDialog::showModel() {
  filling_ = true;
  for (int r = 1; r <= kRows; ++r) {
    labels_[size_t(r - 1)]->setText(Q(model_.Label(r)));
    QComboBox* box = boxes_[size_t(r - 1)];
    box->clear();
    for (const std::string& s : model_.Suggestions(r)) box->addItem(Q(s));
    box->setEditText(Q(model_.Text(r)));
    box->setEnabled(!model_.Label(r).empty() || !model_.Text(r).empty());
  }
  filling_ = false;
  const int focus = model_.TakeFocusRow();
  QComboBox* box = boxes_[size_t(focus - 1)];
  QTimer::singleShot(0, box, [box] { box->setFocus(); });
}

// The typed texts go to the model before it reads a page back.
void PropertiesDialog::pushTexts() {
  for (int r = 1; r <= kRows; ++r) {
    const std::string text = boxes_[size_t(r - 1)]->currentText().toStdString();
    if (text != model_.Text(r)) model_.SetText(r, text);
  }
}

void PropertiesDialog::onItemChanged(QTreeWidgetItem* item) {
  if (filling_ || !item) return;
  pushTexts();
  model_.SelectPage(item->data(0, Qt::UserRole).toInt());
  showModel();
}

void PropertiesDialog::onOk() {
  pushTexts();
  if (model_.PressOk()) {
    accept();
  } else {
    showModel();  // the model showed its message and moved the focus to the row
  }
}

PromptDialog::PromptDialog(Dialog1& model, QWidget* parent) : QDialog(parent), model_(model) {
  setWindowTitle(Q(model.title));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(Q(model.prompt), this));
  edit_ = new QLineEdit(Q(model.text), this);
  edit_->setMinimumWidth(360);
  layout->addWidget(edit_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    model_.text = edit_->text().toStdString();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}
