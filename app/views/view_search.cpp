#include "app/views/view_search.h"

#include "app/views/view_pictures.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/ops/add_request.h"
#include "app/ops/member_path.h"
#include "app/ui_text.h"
#include "app/views/archive_list.h"
#include "core/text_format.h"

namespace quorbel {

CViewSearch::CViewSearch(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent)
    : CQuorbelFormView(handler, sink, parent) {
    auto* layout = new QVBoxLayout(this);
    auto* form = new QGridLayout;
    layout->addLayout(form);
    names_ = new QComboBox(this);
    names_->setEditable(true);
    names_->setObjectName("Names");
    text_ = new QComboBox(this);
    text_->setEditable(true);
    text_->setObjectName("Text");
    path_ = new QComboBox(this);
    path_->setObjectName("Path");
    match_case_ = new QCheckBox(UiText("Match Case", "Respecter la casse"), this);
    match_words_ = new QCheckBox(UiText("Match Words", "Mots"), this);
    start_ = new QPushButton(UiText("&Start", "&Démarrer"), this);
    start_->setDefault(true);
    form->addWidget(new QLabel(UiText("Name :", "Nom :"), this), 0, 0);
    form->addWidget(names_, 0, 1);
    form->addWidget(new QLabel(UiText("Text :", "Texte :"), this), 1, 0);
    form->addWidget(text_, 1, 1);
    form->addWidget(new QLabel(UiText("Path :", "Chemin :"), this), 2, 0);
    form->addWidget(path_, 2, 1);
    auto* checks = new QHBoxLayout;
    checks->addWidget(match_case_);
    checks->addWidget(match_words_);
    checks->addStretch(1);
    checks->addWidget(start_);
    form->addLayout(checks, 3, 1);
    form->setColumnStretch(1, 1);

    tabs_ = new QTabWidget(this);
    list_ = new CArchiveList(tabs_);
    list_->SetSink(&sink);
    list_->InsertColumns();
    tabs_->addTab(list_, UiText("All Files", "Tous les fichiers"));
    images_ = new CViewPictures(handler, sink, tabs_);
    tabs_->addTab(images_, UiText("Images", "Images"));
    connect(tabs_, &QTabWidget::currentChanged, this, [this] { ShowImagesWhenChosen(); });
    connect(images_, &CQuorbelFormView::entryActivated, this, &CQuorbelFormView::entryActivated);
    layout->addWidget(tabs_, 1);
    summary_ = new QLabel(this);
    layout->addWidget(summary_);
    ForwardListSignals(list_);

    FillHistory(names_, kSearchNamesHistory);
    FillHistory(text_, kSearchWordsHistory);
    names_->setCurrentText(QString());
    text_->setCurrentText(QString());
    connect(text_, &QComboBox::currentTextChanged, this, [this] { UpdateChecks(); });
    connect(start_, &QPushButton::clicked, this, &CViewSearch::StartSearch);
    for (QComboBox* box : {names_, text_})
        connect(box->lineEdit(), &QLineEdit::returnPressed, this, &CViewSearch::StartSearch);
    UpdateChecks();
    setFocusProxy(names_);
}

void CViewSearch::FillHistory(QComboBox* box, const char* key) {
    const QString current = box->currentText();
    box->clear();
    for (const std::string& entry : HistoryComboEntries(LoadDestinationHistory(key))) box->addItem(Q(entry));
    box->setCurrentText(current);
}

void CViewSearch::UpdateChecks() {
    const QString text = text_->currentText();
    match_case_->setEnabled(!text.isEmpty());
    match_words_->setEnabled(text.contains(' '));
}

void CViewSearch::Refill() {
    const QString chosen = path_->currentText();
    path_->clear();
    path_->addItem(QString());  // the whole archive
    QStringList paths;
    for (const FolderListItem& item : Handler().Folders()) paths << Q(DisplayPath(Handler().FolderPathOf(item.node)));
    paths.sort(Qt::CaseInsensitive);
    path_->addItems(paths);
    const int again = path_->findText(chosen);
    path_->setCurrentIndex(again < 0 ? 0 : again);
    result_ = {};
    list_->ShowEntries(Handler(), {});
    images_filled_ = false;
    images_->Model().ForgetPixmaps();  // the archive's thumbnails were made anew
    images_->FillPictures(&result_.matches);
    summary_->clear();
}

void CViewSearch::StartSearch() {
    const std::string names = S(names_->currentText());
    const std::string text = S(text_->currentText());
    PushDestinationHistory(kSearchNamesHistory, names);
    PushDestinationHistory(kSearchWordsHistory, text);
    FillHistory(names_, kSearchNamesHistory);
    FillHistory(text_, kSearchWordsHistory);

    SearchQuery query;
    query.path = S(path_->currentText());
    query.names = names;
    query.text = text;
    query.match_case = match_case_->isEnabled() && match_case_->isChecked();
    query.match_words = match_words_->isEnabled() && match_words_->isChecked();
    result_ = SearchEntries(Handler(), query, Sink());
    list_->ShowEntries(Handler(), result_.matches);
    list_->AutoSizeColumns();
    QString summary = Q(FormatText(StringById(text_id::kSearchFound).c_str(), int(result_.matches.size())));
    if (result_.not_searched > 0)
        summary += "  " + Q(FormatText(StringById(text_id::kNotSearched).c_str(), result_.not_searched,
                                       SizeShortText(int64_t(query.size_cap)).c_str()));
    if (result_.aborted) summary += "  " + Q(MessageTemplate(kMsgAborted));
    summary_->setText(summary);
    images_filled_ = false;
    ShowImagesWhenChosen();
    emit selectionChanged();
}

void CViewSearch::ShowImagesWhenChosen() {
    // Decoding waits until the thumbnails are looked at; the results are their source.
    if (tabs_->currentWidget() != images_ || images_filled_) return;
    images_filled_ = true;
    images_->FillPictures(&result_.matches);
}

}  // namespace quorbel
