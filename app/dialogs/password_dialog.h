// The program password: typed twice, optionally masked with 'x'. It is kept in memory for the
// run only; the dialog stores nothing but the mask choice.
#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QLineEdit;

namespace quorbel {

class CPasswordDialog : public QDialog {
    Q_OBJECT
public:
    // Receives "Incorrect password" when the two texts differ.
    using MismatchHandler = std::function<void(const QString& message)>;

    // Both fields start with the current program password, the mask from "bMaskPassword".
    explicit CPasswordDialog(QWidget* parent = nullptr);

    // Replaces the default message box (tests record the message instead).
    void SetMismatchHandler(MismatchHandler handler) { on_mismatch_ = std::move(handler); }

    // Differing texts: the message, and the dialog stays open. Equal texts: they become the
    // program password and "bMaskPassword" is written from the checkbox.
    void accept() override;

    QLineEdit* Password() const { return password_; }
    QLineEdit* Confirmation() const { return confirmation_; }
    QCheckBox* Mask() const { return mask_; }

private:
    void ApplyMask(bool mask);

    QLineEdit* password_;
    QLineEdit* confirmation_;
    QCheckBox* mask_;
    MismatchHandler on_mismatch_;
};

// True when the user confirmed (the program password was set).
bool ShowPasswordDialog(QWidget* parent);

}  // namespace quorbel
