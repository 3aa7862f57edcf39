#include "app/options/options_interface.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/settings_layout.h"
#include "app/ui_text.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

const char* kToolTipKey = "Software\\Dorvex\\Tovel\\ToolTip";

void ShowColor(QPushButton* button, const QColor& color) {
    button->setText(color.name());
    button->setStyleSheet("background-color: " + color.name() + ";");
}

}  // namespace

COptionsTvlToolTip::COptionsTvlToolTip(QWidget* parent) : COptionsPage(parent) {
    auto* layout = new QVBoxLayout(this);
    const struct {
        const char* group;
        const char* key;
        const char* value;
        int fallback;
        const char* label;
    } kRows[] = {
        {"ToolBar", layout::kToolBarKey, "bText", 1, "Show button text"},
        {"ToolBar", layout::kToolBarKey, "bToolTip", 1, "Show tool tips"},
        {"ToolBar", layout::kToolBarKey, "bFlag", 0, "Flat toolbar buttons"},
        {"ToolTip", kToolTipKey, "Enable", 1, "Enable Tvl ToolTip"},
        {"ToolTip", kToolTipKey, "CustomColor", 0, "Use custom colors"},
        {"ProgressBar", layout::kProgressBarKey, "bEnable", 1, "Enable progress bar"},
        {"ProgressBar", layout::kProgressBarKey, "bEnableGradient", 1, "Enable gradient"},
        {"ProgressBar", layout::kProgressBarKey, "bEnableFading", 1, "Enable fading"},
    };
    QGroupBox* boxes[3] = {new QGroupBox(UiText("Toolbar", "Barre d'outils"), this),
                           new QGroupBox(UiText("Tooltips", "Bulles d'aide"), this),
                           new QGroupBox(UiText("Progress bar", "Barre de progression"), this)};
    QFormLayout* forms[3];
    for (int i = 0; i < 3; ++i) {
        forms[i] = new QFormLayout(boxes[i]);
        layout->addWidget(boxes[i]);
    }
    for (const auto& r : kRows) {
        const int group = QString(r.group) == "ToolBar" ? 0 : QString(r.group) == "ToolTip" ? 1 : 2;
        auto* box = new QCheckBox(r.label, boxes[group]);
        forms[group]->addRow(box);
        rows_.push_back({r.key, r.value, r.fallback, box});
    }
    delay_ = new QSpinBox(boxes[1]);
    delay_->setRange(0, 60);
    forms[1]->addRow("Show Delay :", delay_);
    first_button_ = new QPushButton(boxes[2]);
    second_button_ = new QPushButton(boxes[2]);
    forms[2]->addRow("Fist Color :", first_button_);
    forms[2]->addRow("Second Color :", second_button_);
    auto pick = [this](QColor* color, QPushButton* button) {
        const QColor chosen = QColorDialog::getColor(*color, this);
        if (chosen.isValid()) {
            *color = chosen;
            ShowColor(button, chosen);
        }
    };
    connect(first_button_, &QPushButton::clicked, this, [=, this] { pick(&first_, first_button_); });
    connect(second_button_, &QPushButton::clicked, this, [=, this] { pick(&second_, second_button_); });
    layout->addStretch(1);
}

QString COptionsTvlToolTip::Title() const { return UiText("Interface", "Interface"); }

QCheckBox* COptionsTvlToolTip::Option(const char* value) const {
    for (const Row& r : rows_)
        if (QString(r.value) == value) return r.box;
    return nullptr;
}

void COptionsTvlToolTip::Load() {
    RegistryAccess reg;
    const auto root = RegistryRoot::CurrentUser;
    for (const Row& r : rows_) r.box->setChecked(reg.ReadInteger(root, r.key, r.value, r.fallback) != 0);
    delay_->setValue(int(reg.ReadInteger(root, kToolTipKey, "ShowDelay", 1)));
    auto color = [&](const char* prefix, int red) {
        const std::string p = prefix;
        return QColor(int(reg.ReadInteger(root, layout::kProgressBarKey, p + "_Red", red)) & 255,
                      int(reg.ReadInteger(root, layout::kProgressBarKey, p + "_Green", 0)) & 255,
                      int(reg.ReadInteger(root, layout::kProgressBarKey, p + "_Blue", 0)) & 255);
    };
    first_ = color("Color0", 0);
    second_ = color("Color1", 255);
    ShowColor(first_button_, first_);
    ShowColor(second_button_, second_);
}

void COptionsTvlToolTip::Store() {
    RegistryAccess reg;
    const auto root = RegistryRoot::CurrentUser;
    for (const Row& r : rows_) reg.WriteInteger(root, r.key, r.value, r.box->isChecked() ? 1 : 0);
    reg.WriteInteger(root, kToolTipKey, "ShowDelay", delay_->value());
    const std::pair<const char*, QColor> colors[] = {{"Color0", first_}, {"Color1", second_}};
    for (const auto& [prefix, c] : colors) {
        const std::string p = prefix;
        reg.WriteInteger(root, layout::kProgressBarKey, p + "_Red", c.red());
        reg.WriteInteger(root, layout::kProgressBarKey, p + "_Green", c.green());
        reg.WriteInteger(root, layout::kProgressBarKey, p + "_Blue", c.blue());
    }
}

}  // namespace quorbel
