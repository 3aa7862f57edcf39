// quorbel-cli: the archive handlers, messages and operations of Quorbel on the command line.
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/terminal_prompts.h"
#include "core/messages.h"
#include "core/settings.h"
#include "platform/registry_access.h"

namespace {
constexpr const char* kVersion = "quorbel-cli 0.1.0";

constexpr const char* kHelp =
    "usage: quorbel-cli COMMAND ARGUMENTS... [global options]\n"
    "\n"
    "commands:\n"
    "  list    ARCHIVE [--columns all|N,N,...] [--csv | --tsv | --html]\n"
    "  search  ARCHIVE [--name PATTERNS] [--text TEXT] [--path FOLDER] [--match-case]\n"
    "                  [--match-words] [--columns all|N,N,...]\n"
    "  print   ARCHIVE --pdf OUT.pdf\n"
    "  test    ARCHIVE\n"
    "  extract ARCHIVE [MEMBER...] [-d DIR] [--flat | --folder-names]\n"
    "                  [--overwrite | --no-overwrite] [--skip-older | --no-skip-older]\n"
    "  stat    ARCHIVE\n"
    "  add      ARCHIVE PATH... [--action add|freshen|update] [--base DIR] [--folder NAME]\n"
    "                   [--recurse | --no-recurse] [--store83] [--only-non-archived]\n"
    "                   [--reset-archive] [--no-system]\n"
    "  create   ARCHIVE FOLDER\n"
    "  delete   ARCHIVE MEMBER...\n"
    "  rename   ARCHIVE MEMBER NEWNAME\n"
    "  comment  ARCHIVE [MEMBER] --text TEXT\n"
    "  uuencode FILE [OUT]\n"
    "  span     ARCHIVE TARGET [--volume-size BYTES]\n"
    "  convert  SOURCE... --format zip|arj|lha|zoo|rar|ace|jar [--out DIR] [--no-rename]\n"
    "  sfx      ARCHIVE [OUT] [--type 0|1|2] [--stub FILE] [--program PATH]\n"
    "  scan     ARCHIVE [MEMBER...] [--scanner PATH] [--parameters TEMPLATE]\n"
    "  checkout ARCHIVE [--folder DIR] [--group NAME]  |  checkout --cleanup ARCHIVE\n"
    "  picture    FILE [--member NAME] [--bmp OUT]\n"
    "  thumbnails ARCHIVE [--out DIR]\n"
    "  settings get  KEY NAME\n"
    "  settings set  KEY NAME TEXT\n"
    "  settings list KEY\n"
    "  settings delete KEY [NAME]\n"
    "\n"
    "global options: --password TEXT   --lang en|fr   --help   --version\n"
    "columns: 1 Name, 2 Size, 3 Type, 4 Modified, 5 Ratio, 6 Packed, 7 CRC, 8 Attributes,\n"
    "         9 Path, 10 Comment\n";
}  // namespace

int main(int argc, char** argv) {
    using namespace quorbel;
    std::vector<std::string> args;
    std::string lang;
    bool help = false, version = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--password" || a == "--lang") {
            if (i + 1 >= argc) {
                cli::StandardError() << "usage: quorbel-cli " << a << " needs a value (see --help)\n";
                return 2;
            }
            std::string value = argv[++i];
            if (a == "--password")
                SetProgramPassword(value);
            else
                lang = value;
        } else if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--version") {
            version = true;
        } else {
            args.push_back(a);
        }
    }
    if (lang.empty()) {
        SetLanguage(LanguageFromSetting(AppRegistry().ReadInteger("", "Language", 0)));
    } else if (lang == "en" || lang == "fr") {
        SetLanguage(lang == "fr" ? Language::French : Language::English);
    } else {
        cli::StandardError() << "usage: quorbel-cli --lang en|fr\n";
        return 2;
    }
    if (version) {
        cli::StandardOut() << kVersion << "\n";
        return 0;
    }
    if (help) {
        cli::StandardOut() << kHelp;
        return 0;
    }
    if (args.empty()) {
        cli::StandardError() << kHelp;
        return 2;
    }
    cli::TerminalPrompts prompts;
    SetPrompts(&prompts);
    int rc;
    if (args[0] == "print")
#ifdef QUORBEL_CLI_PRINTS
        rc = cli::RunPrintCommand(args, cli::StandardOut(), cli::StandardError());
#else
        rc = cli::HandOverToPrinter(argv, cli::StandardError());
#endif
    else if (args[0] == "settings")
        rc = cli::RunSettingsCommand(args, cli::StandardOut(), cli::StandardError());
    else if (args[0] == "convert")
        rc = cli::RunConvertCommand(args, cli::StandardOut(), cli::StandardError());
    else if (cli::IsProgramsCommand(args[0]))
        rc = cli::RunProgramsCommand(args, cli::StandardOut(), cli::StandardError());
    else if (cli::IsPictureCommand(args[0]))
        rc = cli::RunPictureCommand(args, cli::StandardOut(), cli::StandardError());
    else if (cli::IsWriteCommand(args[0]))
        rc = cli::RunWriteCommand(args, cli::StandardOut(), cli::StandardError());
    else
        rc = cli::RunReadCommand(args, cli::StandardOut(), cli::StandardError());
    cli::StandardOut().Flush();
    SetPrompts(nullptr);
    return rc;
}
