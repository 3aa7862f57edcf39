#include "app/dialogs/password_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ops/add_request.h"
#include "app/ui_text.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/status.h"

namespace quorbel {

namespace {

// Password echo with 'x' in place of the style's own bullet.
class MaskStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return 'x';
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

// One style for every password field; it belongs to the application so that it outlives
// every field that uses it.
QStyle* PasswordStyle() {
    static QPointer<MaskStyle> style;
    if (!style) {
        style = new MaskStyle;
        style->setParent(qApp);
    }
    return style;
}

}  // namespace

CPasswordDialog::CPasswordDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(UiText("Password", "Mot de passe"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    password_ = new QLineEdit(Q(ProgramPassword()), this);
    confirmation_ = new QLineEdit(Q(ProgramPassword()), this);
    form->addRow(UiText("&Password :", "&Mot de passe :"), password_);
    form->addRow(UiText("&Confirm password :", "&Confirmer le mot de passe :"), confirmation_);
    layout->addLayout(form);
    mask_ = new QCheckBox(UiText("&Mask password", "M&asquer le mot de passe"), this);
    layout->addWidget(mask_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(UiText("Cancel", "Annuler"));
    layout->addWidget(buttons);

    for (QLineEdit* field : {password_, confirmation_}) field->setStyle(PasswordStyle());
    mask_->setChecked(LoadMaskPassword());
    ApplyMask(mask_->isChecked());
    connect(mask_, &QCheckBox::toggled, this, &CPasswordDialog::ApplyMask);
    connect(buttons, &QDialogButtonBox::accepted, this, &CPasswordDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    on_mismatch_ = [this](const QString& message) {
        QMessageBox::warning(this, windowTitle(), message);
    };
}

void CPasswordDialog::ApplyMask(bool mask) {
    for (QLineEdit* field : {password_, confirmation_})
        field->setEchoMode(mask ? QLineEdit::Password : QLineEdit::Normal);
}

void CPasswordDialog::accept() {
    if (password_->text() != confirmation_->text()) {
        on_mismatch_(Q(MessageTemplate(kMsgBadPassword)));
        password_->setFocus();
        return;
    }
    SetProgramPassword(S(password_->text()));
    StoreMaskPassword(mask_->isChecked());
    QDialog::accept();
}

bool ShowPasswordDialog(QWidget* parent) {
    CPasswordDialog dialog(parent);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace quorbel
