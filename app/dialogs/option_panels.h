// The groups of option controls that a dialog and its options page share: the four extract
// booleans and the add action with its six booleans.
#pragma once

#include <QWidget>
#include <array>

#include "core/archive_handler.h"
#include "core/settings.h"

class QCheckBox;
class QComboBox;

namespace quorbel {

class CExtractOptionsPanel : public QWidget {
    Q_OBJECT
public:
    explicit CExtractOptionsPanel(QWidget* parent = nullptr);
    void SetOptions(const ExtractOptions& options);
    // Copies the four booleans into `options` ("Path" is left alone).
    void ApplyTo(ExtractOptions& options) const;

    QCheckBox* Overwrite() const { return overwrite_; }
    QCheckBox* SkipOlder() const { return skip_older_; }
    QCheckBox* UseFolderNames() const { return use_folder_names_; }
    QCheckBox* OpenOutputFolder() const { return open_output_folder_; }

private:
    QCheckBox* overwrite_;
    QCheckBox* skip_older_;
    QCheckBox* use_folder_names_;
    QCheckBox* open_output_folder_;
};

class CAddOptionsPanel : public QWidget {
    Q_OBJECT
public:
    // The six booleans, in the order of the stored values.
    enum Flag { kStoreFormat83, kIncludeSubFolders, kSaveCurrentFolderName,
                kIncludeOnlyNonArchived, kResetArchiveAttribute, kIncludeSystemFiles, kFlagCount };

    explicit CAddOptionsPanel(QWidget* parent = nullptr);
    // Presets the controls without announcing a change.
    void SetRequest(const AddRequest& request);
    // Copies the action and the six booleans into `request`.
    void ApplyTo(AddRequest& request) const;

    QComboBox* Action() const { return action_; }
    QCheckBox* FlagBox(Flag flag) const { return flags_[size_t(flag)]; }

signals:
    // Any control was changed by the user (or by code outside SetRequest).
    void changed();

private:
    QComboBox* action_;
    std::array<QCheckBox*, kFlagCount> flags_{};
    bool loading_ = false;
};

}  // namespace quorbel
