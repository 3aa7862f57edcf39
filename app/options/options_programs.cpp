#include "app/options/options_programs.h"

#include "app/options/options_scanner.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/ui_text.h"
#include "formats/external/external_archive.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {
const char* kProgramsKey = "Programs";

std::string TemplatesKey(const std::string& format) { return "Programs\\Templates\\" + format; }
}  // namespace

const std::vector<std::string>& COptionsPrograms::Formats() {
    static const std::vector<std::string> formats = {"ARJ", "LHA", "ZOO", "RAR", "ACE", "JAR"};
    return formats;
}

COptionsPrograms::COptionsPrograms(QWidget* parent) : COptionsPage(parent) {
    auto* layout = new QVBoxLayout(this);
    auto* archivers = new QGroupBox(UiText("External archivers", "Archiveurs externes"), this);
    auto* form = new QFormLayout(archivers);
    for (const std::string& format : Formats()) {
        auto* row = new QWidget(archivers);
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        auto* field = new QLineEdit(row);
        field->setObjectName(Q("program" + format));
        field->setPlaceholderText(UiText("path, or a name found on PATH", "chemin, ou nom trouvé dans PATH"));
        auto* browse = new QPushButton(UiText("Browse...", "Parcourir..."), row);
        h->addWidget(field, 1);
        h->addWidget(browse);
        connect(browse, &QPushButton::clicked, this, [this, field] {
            QString chosen = QFileDialog::getOpenFileName(this, UiText("Program", "Programme"), field->text());
            if (!chosen.isEmpty()) field->setText(chosen);
        });
        // A new program brings its own template set into view.
        connect(field, &QLineEdit::editingFinished, this, [this] {
            TakeTemplates();
            ShowTemplates();
        });
        form->addRow(Q(format), row);
        programs_[format] = field;
    }
    layout->addWidget(archivers);

    auto* box = new QGroupBox(UiText("Command templates", "Modèles de commande"), this);
    auto* v = new QVBoxLayout(box);
    template_format_ = new QComboBox(box);
    for (const std::string& format : Formats()) template_format_->addItem(Q(format));
    v->addWidget(template_format_);
    templates_ = new QTableWidget(int(std::size(kTemplateSlotNames)), 2, box);
    templates_->setHorizontalHeaderLabels({UiText("Command", "Commande"), UiText("Template", "Modèle")});
    templates_->horizontalHeader()->setStretchLastSection(true);
    templates_->verticalHeader()->hide();
    for (size_t i = 0; i < std::size(kTemplateSlotNames); ++i) {
        auto* name = new QTableWidgetItem(kTemplateSlotNames[i]);
        name->setFlags(Qt::ItemIsEnabled);
        templates_->setItem(int(i), 0, name);
        templates_->setItem(int(i), 1, new QTableWidgetItem);
    }
    v->addWidget(templates_);
    v->addWidget(new QLabel(UiText("Placeholders: %Archive %File %Password %OutputDir",
                                   "Paramètres : %Archive %File %Password %OutputDir"), box));
    password_note_ = new QLabel(UiString(text_id::kPasswordVisible), box);
    password_note_->setWordWrap(true);
    v->addWidget(password_note_);
    layout->addWidget(box, 1);
    scanner_ = new CVirusScannerGroup(this);
    sfx_ = new CSelfExtractorGroup(this);
    layout->addWidget(scanner_);
    layout->addWidget(sfx_);
    connect(template_format_, &QComboBox::currentIndexChanged, this, [this] {
        TakeTemplates();
        ShowTemplates();
    });
}

QString COptionsPrograms::Title() const { return UiText("Programs", "Programmes"); }

QLineEdit* COptionsPrograms::ProgramField(const std::string& format) const {
    auto it = programs_.find(format);
    return it == programs_.end() ? nullptr : it->second;
}

void COptionsPrograms::Load() {
    AppRegistry registry;
    overrides_.clear();
    for (const std::string& format : Formats()) {
        programs_[format]->setText(Q(registry.ReadText(kProgramsKey, format, "")));
        const std::string missing = "\x01";
        for (const char* slot : kTemplateSlotNames) {
            std::string value = registry.ReadText(TemplatesKey(format), slot, missing);
            if (value != missing) overrides_[format][slot] = value;
        }
    }
    shown_format_.clear();
    ShowTemplates();
    scanner_->Load();
    sfx_->Load();
}

bool COptionsPrograms::CanStore(QString& message) const { return scanner_->CanStore(message); }

void COptionsPrograms::ShowTemplates() {
    shown_format_ = S(template_format_->currentText());
    CommandTemplates set = TemplatesForProgram(shown_format_, S(programs_[shown_format_]->text()));
    const auto& mine = overrides_[shown_format_];
    for (size_t i = 0; i < std::size(kTemplateSlotNames); ++i) {
        auto it = mine.find(kTemplateSlotNames[i]);
        templates_->item(int(i), 1)->setText(Q(it != mine.end() ? it->second : *TemplateSlot(set, i)));
    }
}

void COptionsPrograms::TakeTemplates() {
    if (shown_format_.empty()) return;
    CommandTemplates set = TemplatesForProgram(shown_format_, S(programs_[shown_format_]->text()));
    auto& mine = overrides_[shown_format_];
    mine.clear();
    for (size_t i = 0; i < std::size(kTemplateSlotNames); ++i) {
        std::string text = S(templates_->item(int(i), 1)->text());
        // Only what differs from the program's own set is the user's: a changed program then
        // brings its set for the rest.
        if (text != *TemplateSlot(set, i)) mine[kTemplateSlotNames[i]] = text;
    }
}

void COptionsPrograms::Store() {
    scanner_->Store();
    sfx_->Store();
    TakeTemplates();
    AppRegistry registry;
    for (const std::string& format : Formats()) {
        registry.WriteText(kProgramsKey, format, S(programs_[format]->text().trimmed()));
        const auto& mine = overrides_[format];
        for (const char* slot : kTemplateSlotNames) {
            auto it = mine.find(slot);
            if (it != mine.end())
                registry.WriteText(TemplatesKey(format), slot, it->second);
            else
                registry.DeleteValue(TemplatesKey(format), slot);
        }
    }
}

}  // namespace quorbel
