#include "app/dialogs/checkout_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "app/ops/checkout.h"
#include "app/ui_text.h"
#include "core/user_prompts.h"

namespace quorbel {

CCheckOutDialog::CCheckOutDialog(UserPrompts& prompts, const std::string& archive, QWidget* parent)
    : QDialog(parent), prompts_(prompts), archive_(archive) {
    setWindowTitle("CheckOut - [Quorbel]");
    auto* form = new QFormLayout(this);
    folder_ = new QLineEdit(this);
    auto* browse = new QPushButton(UiText("Browse", "Parcourir"), this);
    auto* row = new QHBoxLayout;
    row->addWidget(folder_, 1);
    row->addWidget(browse);
    form->addRow("Output Folder :", row);
    group_ = new QLineEdit(this);
    form->addRow("Group Name :", group_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText("&OK");
    form->addRow(buttons);
    connect(browse, &QPushButton::clicked, this, &CCheckOutDialog::Browse);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    SetValues(DefaultCheckOutFolder(archive), DefaultGroupName(archive));
}

void CCheckOutDialog::SetValues(const std::string& folder, const std::string& group) {
    folder_->setText(Q(folder));
    group_->setText(Q(group));
}

std::string CCheckOutDialog::Folder() const { return S(folder_->text().trimmed()); }
std::string CCheckOutDialog::Group() const { return S(group_->text().trimmed()); }

void CCheckOutDialog::Browse() {
    auto chosen = prompts_.ChooseFolder("Select the temporary CheckOut folder.", Folder());
    if (!chosen) return;
    std::string folder = *chosen;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    folder_->setText(Q(folder + "/" + DefaultGroupName(archive_)));
}

}  // namespace quorbel
