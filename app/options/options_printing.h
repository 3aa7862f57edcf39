// The "Printing / Export" options page: margins, the header and footer bands, the table's
// colours and fonts, and the columns printed or exported ("Options\ListPrinting\").
#pragma once

#include <QColor>
#include <QFont>
#include <functional>
#include <optional>

#include "app/ops/list_layout.h"
#include "app/options/quorbel_options.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace quorbel {

class COptionsPrinting : public COptionsPage {
    Q_OBJECT
public:
    explicit COptionsPrinting(QWidget* parent = nullptr);
    QString Title() const override;
    void Load() override;
    void Store() override;

    // What the page holds now (the controls read back).
    ListPrintLayout Layout();
    // "Reset": the defaults into the controls (stored with OK or Apply).
    void Reset();

    // The pickers behind the font and colour buttons (QFontDialog and QColorDialog unless a
    // test puts its own); none chosen leaves the value as it is.
    std::function<std::optional<QFont>(const QFont&, QWidget*)> choose_font;
    std::function<std::optional<QColor>(const QColor&, QWidget*)> choose_color;

    // The buttons, by what they change: "Header_Font", "Footer_Font", "TextFont",
    // "TabHeaderFont", "Header_Color", "Footer_Color", "TabHeaderTextColor",
    // "TabHeaderBackgroundColor", "TextColor", "TextBackgroundColor0", "TextBackgroundColor1".
    QPushButton* Button(const QString& name) const;
    QCheckBox* Column(int column) const { return columns_[column]; }
    QSpinBox* Margin(int which) const { return margins_[which]; }  // left, top, right, bottom, cell
    QLineEdit* Template(bool header, int which) const { return (header ? header_text_ : footer_text_)[which]; }
    QPushButton* ResetButton() const { return reset_; }

private:
    void Show();
    void ShowButtons();

    ListPrintLayout layout_;
    QSpinBox* margins_[5];
    QCheckBox* header_on_;
    QCheckBox* footer_on_;
    QSpinBox* header_height_;
    QSpinBox* footer_height_;
    QLineEdit* header_text_[3];
    QLineEdit* footer_text_[3];
    QCheckBox* columns_[11] = {};
    QPushButton* reset_;
    std::vector<std::pair<QString, QPushButton*>> buttons_;
};

}  // namespace quorbel
