// The "Programs" options page: the external archiver of each format (a path, or a bare name
// found on PATH, under "Programs" <format>) and its command templates, shown as they will be
// used and overridable slot by slot under "Programs\Templates\<format>\". Other groups (virus
// scanners, self-extractor makers) join this page as they are built.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/options/quorbel_options.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace quorbel {

class CSelfExtractorGroup;
class CVirusScannerGroup;

class COptionsPrograms : public COptionsPage {
    Q_OBJECT
public:
    // The formats whose archivers the page configures, in the order shown.
    static const std::vector<std::string>& Formats();

    explicit COptionsPrograms(QWidget* parent = nullptr);
    QString Title() const override;
    void Load() override;
    void Store() override;
    bool CanStore(QString& message) const override;
    CVirusScannerGroup* Scanner() const { return scanner_; }
    CSelfExtractorGroup* SelfExtractor() const { return sfx_; }

    // The program field of a format ("ARJ").
    QLineEdit* ProgramField(const std::string& format) const;
    // The format whose templates the table shows, and the table (column 1: the text used).
    QComboBox* TemplateFormat() const { return template_format_; }
    QTableWidget* Templates() const { return templates_; }
    QLabel* PasswordNote() const { return password_note_; }

private:
    // Shows the templates of the chosen format: the user's text where one is stored, else
    // what the configured program's set gives.
    void ShowTemplates();
    // Keeps the table's texts of the shown format for Store.
    void TakeTemplates();

    std::map<std::string, QLineEdit*> programs_;
    QComboBox* template_format_;
    QTableWidget* templates_;
    QLabel* password_note_;
    CVirusScannerGroup* scanner_;
    CSelfExtractorGroup* sfx_;
    std::string shown_format_;
    // Per format: slot name -> text, for slots that differ from the program's set.
    std::map<std::string, std::map<std::string, std::string>> overrides_;
};

}  // namespace quorbel
