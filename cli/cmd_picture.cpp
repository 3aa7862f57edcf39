// picture and thumbnails: the picture library on the command line.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/ops/thumbnails.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "core/messages.h"
#include "picture/format_registry.h"

namespace quorbel::cli {

namespace {

constexpr const char* kUsage =
    "usage: quorbel-cli picture FILE [--member NAME] [--bmp OUT]\n"
    "       quorbel-cli thumbnails ARCHIVE [--out DIR]\n";
constexpr int kUnknownPictureFormat = 61606;  // "Unknown file format. ... load file "%s"."

int Usage(TextOut& err) {
    err << kUsage;
    return 2;
}

std::string MemberName(std::string name) {
    for (char& c : name)
        if (c == '/') c = '\\';
    return name;
}

// Prints what the dispatcher found; writes the BMP when asked.
int ShowPicture(DataStream& stream, const std::string& shown_name, const std::string& bmp_out,
                ProgressSink& sink, TextOut& out, TextOut& err) {
    CPicture picture;
    const CGraphicsFormat* codec = nullptr;
    std::string text;
    if (!LoadFromStream(stream, &picture, &sink, true, nullptr, nullptr, nullptr, &text, &codec)) {
        err << FormatText(StringById(kUnknownPictureFormat).c_str(), shown_name.c_str()) << "\n";
        return 1;
    }
    out << "width: " << picture.Width() << "\n"
        << "height: " << picture.Height() << "\n"
        << "depth: " << picture.Depth() << "\n"
        << "format: " << picture.Description() << "\n"
        << "info: " << text << "\n";
    if (picture.HasAlpha()) out << "alpha: yes\n";
    if (!bmp_out.empty() && !SaveBmp24(bmp_out, picture, &sink)) {
        err << FormatText(MessageTemplate(kMsgCannotCreate).c_str(), bmp_out.c_str()) << "\n";
        return 1;
    }
    return 0;
}

int RunPicture(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    std::string file, member, bmp_out;
    bool has_member = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--member" || a == "--bmp") {
            if (i + 1 >= args.size()) return Usage(err);
            (a == "--member" ? member : bmp_out) = args[++i];
            if (a == "--member") has_member = true;
        } else if (!a.empty() && a[0] == '-') {
            return Usage(err);
        } else if (file.empty()) {
            file = a;
        } else {
            return Usage(err);
        }
    }
    if (file.empty() || (has_member && member.empty())) return Usage(err);
    auto progress = MakeProgress();
    if (!has_member) {
        DataStream stream;
        if (!stream.OpenFile(file, true)) {
            err << FormatText(MessageTemplate(kMsgCannotOpen).c_str(), file.c_str()) << "\n";
            return 1;
        }
        return ShowPicture(stream, file, bmp_out, *progress, out, err);
    }
    auto handler = OpenOrReport(file, *progress, err);
    if (!handler) return 1;
    const int index = handler->FindEntry(MemberName(member));
    if (index < 0 || !handler->Entry(size_t(index)).is_file) {
        err << FormatText(StringById(text_id::kNoSuchMember).c_str(), member.c_str()) << "\n";
        return 1;
    }
    int status = 0;
    MemoryBlock block = handler->UnpackEntry(handler->Entry(size_t(index)), status);
    if (!block) {
        err << handler->LastMessage() << "\n";
        return 1;
    }
    DataStream stream;
    stream.AttachMemory(block.data.get(), block.size);
    // The dispatcher chooses by the member's own file name.
    stream.SetName(std::string(handler->Entry(size_t(index)).NamePart()));
    return ShowPicture(stream, member, bmp_out, *progress, out, err);
}

int RunThumbnails(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    std::string archive, dir;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--out") {
            if (i + 1 >= args.size()) return Usage(err);
            dir = args[++i];
        } else if (!args[i].empty() && args[i][0] == '-') {
            return Usage(err);
        } else if (archive.empty()) {
            archive = args[i];
        } else {
            return Usage(err);
        }
    }
    if (archive.empty()) return Usage(err);
    auto progress = MakeProgress();
    auto handler = OpenOrReport(archive, *progress, err);
    if (!handler) return 1;
    if (!dir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (!std::filesystem::is_directory(dir)) {
            err << FormatText(MessageTemplate(kMsgCannotCreate).c_str(), dir.c_str()) << "\n";
            return 1;
        }
    }
    InstallThumbnailHook();
    handler->SetSink(progress.get());
    // The order of the pictures view: by name part, without regard to case.
    std::vector<int> order;
    for (size_t i = 0; i < handler->EntryCount(); ++i)
        if (handler->Entry(i).allocated && handler->Entry(i).is_file) order.push_back(int(i));
    auto lower = [](std::string_view s) {
        std::string l(s);
        for (char& c : l) c = char(std::tolower(static_cast<unsigned char>(c)));
        return l;
    };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return lower(handler->Entry(size_t(a)).NamePart()) < lower(handler->Entry(size_t(b)).NamePart());
    });
    int rc = 0;
    int number = 0;
    for (int index : order) {
        if (progress->Cancelled()) {
            err << MessageTemplate(kMsgAborted) << "\n";
            return 1;
        }
        int w = 0, h = 0, bits = 0;
        const int slot = handler->GetPictureInfo(index, &w, &h, &bits);
        if (slot < 0) continue;
        const ArchiveEntry& e = handler->Entry(size_t(index));
        out << PictureCaption(w, h, bits, e.NamePart()) << "\n";
        if (dir.empty()) continue;
        // One BMP per thumbnail, numbered in list order: names of different folders may be
        // the same, and the number keeps every name inside DIR.
        const ArchiveHandler::ThumbnailImage& image = handler->Thumbnails()[size_t(slot)];
        CPicture canvas;
        canvas.Create(image.width, image.height);
        for (int y = 0; y < image.height; ++y)
            std::copy_n(image.pixels.data() + size_t(y) * size_t(image.width) * 3, size_t(image.width) * 3,
                        canvas.Row(y));
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%04d-", ++number);
        const std::string file = prefix + std::string(e.NamePart()) + ".bmp";
        const std::string path = (std::filesystem::path(dir) / file).string();
        if (!SaveBmp24(path, canvas, progress.get())) {
            err << FormatText(MessageTemplate(kMsgCannotCreate).c_str(), path.c_str()) << "\n";
            rc = 1;
        }
    }
    return rc;
}

}  // namespace

bool IsPictureCommand(const std::string& command) { return command == "picture" || command == "thumbnails"; }

int RunPictureCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    if (args[0] == "picture") return RunPicture(args, out, err);
    return RunThumbnails(args, out, err);
}

}  // namespace quorbel::cli
