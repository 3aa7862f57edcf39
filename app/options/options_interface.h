// The "Interface" options page: the toolbar, tooltip and progress-bar settings, kept under
// "Software\Dorvex\Tovel\".
#pragma once

#include <QColor>

#include "app/options/quorbel_options.h"

class QCheckBox;
class QPushButton;
class QSpinBox;

namespace quorbel {

class COptionsTvlToolTip : public COptionsPage {
    Q_OBJECT
public:
    explicit COptionsTvlToolTip(QWidget* parent = nullptr);
    QString Title() const override;
    void Load() override;
    void Store() override;

    // The check box of a value ("bText", "bEnableGradient", ...), nullptr for another name.
    QCheckBox* Option(const char* value) const;

private:
    struct Row {
        const char* key;
        const char* value;
        int fallback;
        QCheckBox* box;
    };
    std::vector<Row> rows_;
    QSpinBox* delay_;
    QColor first_, second_;
    QPushButton* first_button_;
    QPushButton* second_button_;
};

}  // namespace quorbel
