// The search view: a form (name patterns and text with their histories, the folder, "Match
// Case", "Match Words", "&Start") above an "All Files" tab that lists what was found.
#pragma once

#include "app/ops/search.h"
#include "app/views/quorbel_form_view.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;

namespace quorbel {

class CViewPictures;

class CArchiveList;

inline constexpr const char* kSearchNamesHistory = "Search\\Extensions";
inline constexpr const char* kSearchWordsHistory = "Search\\Words";

class CViewSearch : public CQuorbelFormView {
    Q_OBJECT
public:
    CViewSearch(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent);

    int ViewType() const override { return 4; }
    // The archive changed: its folders are listed again and the old results go (their entry
    // indices are no longer valid).
    void Refill() override;
    CArchiveList* List() override { return list_; }

    // The "&Start" button: both texts go to the top of their histories, then the search runs.
    void StartSearch();
    const SearchResult& LastResult() const { return result_; }

    QComboBox* Names() const { return names_; }
    QComboBox* Text() const { return text_; }
    QComboBox* Path() const { return path_; }
    QCheckBox* MatchCase() const { return match_case_; }
    QCheckBox* MatchWords() const { return match_words_; }
    QPushButton* Start() const { return start_; }
    QTabWidget* Tabs() const { return tabs_; }
    // The "Images" tab: the thumbnails of the picture members among the results, filled when
    // the tab is shown after a search.
    CViewPictures* Images() const { return images_; }
    QLabel* Summary() const { return summary_; }

private:
    void UpdateChecks();
    void ShowImagesWhenChosen();
    void FillHistory(QComboBox* box, const char* key);

    QComboBox* names_;
    QComboBox* text_;
    QComboBox* path_;
    QCheckBox* match_case_;
    QCheckBox* match_words_;
    QPushButton* start_;
    QTabWidget* tabs_;
    CArchiveList* list_;
    CViewPictures* images_;
    bool images_filled_ = false;
    QLabel* summary_;
    SearchResult result_;
};

}  // namespace quorbel
