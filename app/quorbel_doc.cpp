#include "app/quorbel_doc.h"

#include <QApplication>
#include <QCursor>
#include <QIODevice>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/child_frame.h"
#include "app/views/view_content.h"
#include "app/views/view_explorer.h"
#include "app/views/view_pictures.h"
#include "app/views/view_search.h"
#include "app/views/view_stat.h"
#include "core/messages.h"
#include "core/status.h"
#include "core/user_prompts.h"
#include "platform/file_system.h"
#include "platform/temp_folders.h"

namespace quorbel {

namespace {

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

// Reads a whole file descriptor in blocks, handing each block to `put`; false on a read error
// or when `put` refuses (the user stopped).
template <typename Put>
bool CopyBlocks(int fd, size_t block, Put put) {
    std::vector<char> buffer(block);
    for (;;) {
        ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (!put(buffer.data(), size_t(n))) return false;
    }
}

}  // namespace

CQuorbelFormView* CreateView(int type, ArchiveHandler& handler, ProgressSink& sink) {
    switch (type) {
        case kViewContent: return new CViewContent(handler, sink, nullptr);
        case kViewExplorer: return new CViewExplorer(handler, sink, nullptr);
        case kViewPictures: return new CViewPictures(handler, sink, nullptr);
        case kViewSearch: return new CViewSearch(handler, sink, nullptr);
        case kViewStatistics: return new CViewStat(handler, sink, nullptr);
        default: return nullptr;
    }
}

CQuorbelDoc::CQuorbelDoc(ProgressSink& sink, QObject* parent) : QObject(parent), sink_(sink) {}

CQuorbelDoc::~CQuorbelDoc() = default;

void CQuorbelDoc::Attach(std::unique_ptr<ArchiveHandler> handler) {
    handler_ = std::move(handler);
    title_ = handler_->ArchivePath();
    ShowView(kViewContent);
}

bool CQuorbelDoc::ShowView(int type) {
    if (type == view_type_) return true;
    if (!handler_ || !frame_) return false;
    WaitCursor wait;
    handler_->SetSink(&sink_);
    CQuorbelFormView* view = CreateView(type, *handler_, sink_);
    if (!view) return false;
    frame_->ReplaceView(view);
    view_type_ = type;
    emit viewChanged(type);
    return true;
}

void CQuorbelDoc::RefreshView() {
    if (frame_) frame_->RefillView();
}

int CQuorbelDoc::SaveAs(const std::string& target, std::string& message) {
    const std::string& source = handler_->ArchivePath();
    struct stat st {};
    if (stat(source.c_str(), &st) != 0) {
        message = FormatText(MessageTemplate(kMsgCannotOpen).c_str(), source.c_str());
        return 0;
    }
    ProgressScope scope(&sink_);
    sink_.SetText(FormatText(MessageTemplate(kMsgCopying).c_str(), FileNameOfPath(source).c_str(),
                             target.c_str()));
    sink_.SetRange(0, int64_t(st.st_size));
    // The copy keeps the archive's own permission bits.
    const int status = CopyFileSafely(source, target, st.st_mode & 07777, size_t(1) << 20,
                                      [this](int64_t done) { return sink_.SetPos(done) != 0; });
    if (status == 2) message = MessageTemplate(kMsgAborted);
    else if (status == 0)
        message = FormatText(MessageTemplate(kMsgCannotCopy).c_str(), source.c_str(), target.c_str());
    return status;
}

bool CQuorbelDoc::Serialize(QIODevice& device) {
    const std::string& source = handler_->ArchivePath();
    const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    ProgressScope scope(&sink_);
    sink_.SetText(FormatText(MessageTemplate(kMsgCopying).c_str(), FileNameOfPath(source).c_str(),
                             device.objectName().toStdString().c_str()));
    sink_.SetRange(0, FileSize(source));
    int64_t done = 0;
    const bool ok = CopyBlocks(in, 204800, [&](const char* data, size_t n) {
        if (device.write(data, qint64(n)) != qint64(n)) return false;
        done += int64_t(n);
        return sink_.SetPos(done) != 0;
    });
    close(in);
    return ok;
}

bool CQuorbelDoc::CanClose(UserPrompts& prompts) {
    if (checkout.Empty()) return true;
    const std::string question =
        FormatText(StringById(text_id::kCheckOutClose).c_str(), title_.c_str(),
                   checkout.output_folder.c_str(), checkout.GroupName().c_str());
    if (prompts.AskYesNo(question)) {
        // Only what the check-out wrote and made goes: the folder may hold the user's files.
        std::string left;
        for (const auto& path : CleanUpCheckOut(checkout))
            left += FormatText(StringById(text_id::kCouldNotRemove).c_str(), path.c_str()) + "\n";
        if (!left.empty()) prompts.ShowMessage(left);
    }
    checkout = CheckOutRecord();
    return true;
}

}  // namespace quorbel
