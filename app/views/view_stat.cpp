#include "app/views/view_stat.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "app/ops/statistics_text.h"
#include "app/ui_text.h"

namespace quorbel {

CViewStat::CViewStat(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent)
    : CQuorbelFormView(handler, sink, parent), edit_(new QPlainTextEdit(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit_);
    edit_->setReadOnly(true);
    edit_->setLineWrapMode(QPlainTextEdit::NoWrap);
    // The labels are padded with blanks, so the columns line up only in a fixed-pitch font.
    edit_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Four pixels of margin keep the text off the frame (above and below as well).
    edit_->document()->setDocumentMargin(4);
    setFocusProxy(edit_);
}

void CViewStat::Refill() {
    // The text separates lines with CR LF; the edit control wants plain line feeds.
    QString text = Q(StatisticsText(Handler()));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    edit_->setPlainText(text);
}

}  // namespace quorbel
