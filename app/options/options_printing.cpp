#include "app/options/options_printing.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFontDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/list_printer.h"
#include "app/ui_text.h"

namespace quorbel {

namespace {

QColor ToColor(uint32_t c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }
uint32_t ToReference(const QColor& c) {
    return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
}

QSpinBox* Millimetres(QWidget* parent, int maximum) {
    auto* box = new QSpinBox(parent);
    box->setRange(0, maximum);
    box->setSuffix(" mm");
    return box;
}

}  // namespace

COptionsPrinting::COptionsPrinting(QWidget* parent) : COptionsPage(parent), layout_(ResetListPrintLayout()) {
    choose_font = [](const QFont& initial, QWidget* owner) -> std::optional<QFont> {
        bool ok = false;
        const QFont font = QFontDialog::getFont(&ok, initial, owner);
        return ok ? std::optional<QFont>(font) : std::nullopt;
    };
    choose_color = [](const QColor& initial, QWidget* owner) -> std::optional<QColor> {
        const QColor color = QColorDialog::getColor(initial, owner);
        return color.isValid() ? std::optional<QColor>(color) : std::nullopt;
    };

    auto* layout = new QVBoxLayout(this);
    auto* margins = new QGroupBox(UiText("Margins", "Marges"), this);
    auto* margin_form = new QHBoxLayout(margins);
    const QString labels[5] = {UiText("Left :", "Gauche :"), UiText("Top :", "Haut :"),
                               UiText("Right :", "Droite :"), UiText("Bottom :", "Bas :"),
                               UiText("Cell Padding :", "Espacement des cellules :")};
    for (int i = 0; i < 5; ++i) {
        margins_[i] = Millimetres(margins, 100);
        auto* row = new QFormLayout;
        row->addRow(labels[i], margins_[i]);
        margin_form->addLayout(row);
    }
    layout->addWidget(margins);

    auto add_button = [this](QWidget* parent, const QString& name, const QString& text) {
        auto* button = new QPushButton(text, parent);
        button->setObjectName(name);
        buttons_.push_back({name, button});
        return button;
    };
    auto band_box = [&](bool header) {
        auto* box = new QGroupBox(header ? UiText("Header", "En-tête") : UiText("Footer", "Pied de page"), this);
        auto* form = new QFormLayout(box);
        QCheckBox*& on = header ? header_on_ : footer_on_;
        QSpinBox*& height = header ? header_height_ : footer_height_;
        QLineEdit** texts = header ? header_text_ : footer_text_;
        on = new QCheckBox(UiText("Enable", "Activer"), box);
        height = Millimetres(box, 100);
        form->addRow(on);
        form->addRow(UiText("Height :", "Hauteur :"), height);
        const QString places[3] = {UiText("Left :", "Gauche :"), UiText("Center :", "Centre :"),
                                   UiText("Right :", "Droite :")};
        for (int i = 0; i < 3; ++i) {
            texts[i] = new QLineEdit(box);
            form->addRow(places[i], texts[i]);
        }
        const QString prefix = header ? "Header" : "Footer";
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(add_button(box, prefix + "_Font", UiText("Font...", "Police...")));
        buttons->addWidget(add_button(box, prefix + "_Color", UiText("Color...", "Couleur...")));
        form->addRow(buttons);
        return box;
    };
    auto* bands = new QHBoxLayout;
    bands->addWidget(band_box(true));
    bands->addWidget(band_box(false));
    layout->addLayout(bands);

    auto* table = new QGroupBox(UiText("Table", "Tableau"), this);
    auto* grid = new QGridLayout(table);
    grid->addWidget(add_button(table, "TabHeaderFont", UiText("Title font...", "Police des titres...")), 0, 0);
    grid->addWidget(add_button(table, "TabHeaderTextColor", UiText("Title text...", "Texte des titres...")), 0, 1);
    grid->addWidget(add_button(table, "TabHeaderBackgroundColor", UiText("Title background...", "Fond des titres...")), 0, 2);
    grid->addWidget(add_button(table, "TextFont", UiText("Text font...", "Police du texte...")), 1, 0);
    grid->addWidget(add_button(table, "TextColor", UiText("Text color...", "Couleur du texte...")), 1, 1);
    grid->addWidget(add_button(table, "TextBackgroundColor0", UiText("Even rows...", "Lignes paires...")), 1, 2);
    grid->addWidget(add_button(table, "TextBackgroundColor1", UiText("Odd rows...", "Lignes impaires...")), 1, 3);
    layout->addWidget(table);

    auto* columns = new QGroupBox(UiText("Columns", "Colonnes"), this);
    auto* column_grid = new QGridLayout(columns);
    for (int c = 1; c <= 10; ++c) {
        columns_[c] = new QCheckBox(Q(ColumnTitle(c)), columns);
        column_grid->addWidget(columns_[c], (c - 1) / 5, (c - 1) % 5);
    }
    layout->addWidget(columns);

    reset_ = new QPushButton(UiText("Reset", "Réinitialiser"), this);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(reset_);
    layout->addLayout(bottom);
    layout->addStretch(1);
    connect(reset_, &QPushButton::clicked, this, &COptionsPrinting::Reset);

    for (const auto& [name, button] : buttons_) {
        const QString which = name;
        connect(button, &QPushButton::clicked, this, [this, which] {
            layout_ = Layout();  // keep what was typed
            LogFont* font = which == "Header_Font" ? &layout_.header.font
                            : which == "Footer_Font" ? &layout_.footer.font
                            : which == "TextFont"    ? &layout_.text_font
                            : which == "TabHeaderFont" ? &layout_.tab_header_font
                                                       : nullptr;
            if (font) {
                if (auto chosen = choose_font(FontOf(*font), this)) *font = LogFontOf(*chosen, *font);
            } else {
                uint32_t* color = which == "Header_Color"               ? &layout_.header.color
                                  : which == "Footer_Color"             ? &layout_.footer.color
                                  : which == "TabHeaderTextColor"       ? &layout_.tab_header_text_color
                                  : which == "TabHeaderBackgroundColor" ? &layout_.tab_header_background_color
                                  : which == "TextColor"                ? &layout_.text_color
                                  : which == "TextBackgroundColor0"     ? &layout_.text_background_color[0]
                                                                        : &layout_.text_background_color[1];
                if (auto chosen = choose_color(ToColor(*color), this)) *color = ToReference(*chosen);
            }
            ShowButtons();
        });
    }
}

QString COptionsPrinting::Title() const { return UiText("Printing / Export", "Impression / Export"); }

QPushButton* COptionsPrinting::Button(const QString& name) const {
    for (const auto& [n, b] : buttons_)
        if (n == name) return b;
    return nullptr;
}

void COptionsPrinting::Load() {
    layout_ = LoadListPrintLayout();
    Show();
}

void COptionsPrinting::Store() { StoreListPrintLayout(Layout()); }

void COptionsPrinting::Reset() {
    layout_ = ResetListPrintLayout();
    Show();
}

ListPrintLayout COptionsPrinting::Layout() {
    ListPrintLayout l = layout_;
    l.margin_left = margins_[0]->value();
    l.margin_top = margins_[1]->value();
    l.margin_right = margins_[2]->value();
    l.margin_bottom = margins_[3]->value();
    l.margin_cell = margins_[4]->value();
    l.header.enabled = header_on_->isChecked();
    l.footer.enabled = footer_on_->isChecked();
    l.header.height = header_height_->value();
    l.footer.height = footer_height_->value();
    std::string* header[3] = {&l.header.left, &l.header.center, &l.header.right};
    std::string* footer[3] = {&l.footer.left, &l.footer.center, &l.footer.right};
    for (int i = 0; i < 3; ++i) {
        *header[i] = S(header_text_[i]->text());
        *footer[i] = S(footer_text_[i]->text());
    }
    for (int c = 1; c <= 10; ++c) l.columns[size_t(c)] = columns_[c]->isChecked();
    return l;
}

void COptionsPrinting::Show() {
    const int margins[5] = {layout_.margin_left, layout_.margin_top, layout_.margin_right,
                            layout_.margin_bottom, layout_.margin_cell};
    for (int i = 0; i < 5; ++i) margins_[i]->setValue(margins[i]);
    header_on_->setChecked(layout_.header.enabled);
    footer_on_->setChecked(layout_.footer.enabled);
    header_height_->setValue(layout_.header.height);
    footer_height_->setValue(layout_.footer.height);
    const std::string* header[3] = {&layout_.header.left, &layout_.header.center, &layout_.header.right};
    const std::string* footer[3] = {&layout_.footer.left, &layout_.footer.center, &layout_.footer.right};
    for (int i = 0; i < 3; ++i) {
        header_text_[i]->setText(Q(*header[i]));
        footer_text_[i]->setText(Q(*footer[i]));
    }
    for (int c = 1; c <= 10; ++c) columns_[c]->setChecked(layout_.columns[size_t(c)]);
    ShowButtons();
}

void COptionsPrinting::ShowButtons() {
    auto paint = [this](const char* name, uint32_t color) {
        const QColor c = ToColor(color);
        Button(name)->setToolTip(c.name());
        Button(name)->setStyleSheet(QString("border: 3px solid %1;").arg(c.name()));
    };
    paint("Header_Color", layout_.header.color);
    paint("Footer_Color", layout_.footer.color);
    paint("TabHeaderTextColor", layout_.tab_header_text_color);
    paint("TabHeaderBackgroundColor", layout_.tab_header_background_color);
    paint("TextColor", layout_.text_color);
    paint("TextBackgroundColor0", layout_.text_background_color[0]);
    paint("TextBackgroundColor1", layout_.text_background_color[1]);
    auto font = [this](const char* name, const LogFont& f) {
        Button(name)->setToolTip(QString("%1, %2").arg(Q(f.face)).arg(f.height));
    };
    font("Header_Font", layout_.header.font);
    font("Footer_Font", layout_.footer.font);
    font("TextFont", layout_.text_font);
    font("TabHeaderFont", layout_.tab_header_font);
}

}  // namespace quorbel
