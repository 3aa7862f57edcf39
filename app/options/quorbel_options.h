// The options property sheet: one tab per options page. OK and Apply store every page.
#pragma once

#include <QDialog>
#include <QWidget>
#include <vector>

class QCheckBox;
class QTabWidget;

namespace quorbel {

class CAddOptionsPanel;
class CExtractOptionsPanel;

class COptionsPage : public QWidget {
public:
    explicit COptionsPage(QWidget* parent = nullptr) : QWidget(parent) {}
    // The tab's caption.
    virtual QString Title() const = 0;
    // Presets the controls from the settings store (called when the page joins a sheet).
    virtual void Load() = 0;
    // Writes the controls back to the settings store.
    virtual void Store() = 0;
    // False, with the message to show, when what the controls hold must not be stored (a
    // program path that names no program); the sheet then stores no page.
    virtual bool CanStore(QString& message) const {
        (void)message;
        return true;
    }
};

class CQuorbelOptions : public QDialog {
    Q_OBJECT
public:
    explicit CQuorbelOptions(QWidget* parent = nullptr);
    // Takes the page (the sheet owns it), loads it and shows it as a new tab.
    void AddPage(COptionsPage* page);
    // Store() on every page, in the order they were added, once every page agreed; otherwise
    // shows the refusing page and its message, stores nothing and returns false.
    bool StoreAll();
    const std::vector<COptionsPage*>& Pages() const { return pages_; }
    QTabWidget* Tabs() const { return tabs_; }

private:
    QTabWidget* tabs_;
    std::vector<COptionsPage*> pages_;
};

// "Options\Extract\": the four extract booleans ("Path" is kept).
class COptionsExtract : public COptionsPage {
public:
    explicit COptionsExtract(QWidget* parent = nullptr);
    QString Title() const override;
    void Load() override;
    void Store() override;
    CExtractOptionsPanel* Panel() const { return panel_; }

private:
    CExtractOptionsPanel* panel_;
};

// "Options\AddFiles\": the action and the six add booleans.
class COptionsAddFiles : public COptionsPage {
public:
    explicit COptionsAddFiles(QWidget* parent = nullptr);
    QString Title() const override;
    void Load() override;
    void Store() override;
    CAddOptionsPanel* Panel() const { return panel_; }

private:
    CAddOptionsPanel* panel_;
};

// "Options\Password\" "bMaskPassword".
class COptionsPassword : public COptionsPage {
public:
    explicit COptionsPassword(QWidget* parent = nullptr);
    QString Title() const override;
    void Load() override;
    void Store() override;
    QCheckBox* Mask() const { return mask_; }

private:
    QCheckBox* mask_;
};

// Adds the pages of the extract, add and password options.
void AddStandardPages(CQuorbelOptions& sheet);

}  // namespace quorbel
