// The help topics an installation puts in the menu group, in their order: the page below the
// installed "help" folder and the numbered title ("%2d. ...") in both languages. Pages in
// "windows/" and "options/" form the sub-groups "Windows" and "Options".
#pragma once

namespace quorbel {

struct HelpTopic {
    const char* page;     // relative to <installation>/help
    const char* english;  // printf format with the topic's number
    const char* french;
};

inline constexpr HelpTopic kHelpTopics[] = {
    {"local/index.htm", "%2d. Table of content", "%2d. Table des matières"},
    {"local/license.htm", "%2d. License", "%2d. Licence"},
    {"local/presentation.htm", "%2d. Presentation", "%2d. Présentation"},
    {"local/concepts.htm", "%2d. Concepts", "%2d. Concepts"},
    {"local/formats.htm", "%2d. Supported formats", "%2d. Formats pris en charge"},
    {"local/howto.htm", "%2d. How to...", "%2d. Comment faire..."},
    {"local/menus.htm", "%2d. Menus", "%2d. Menus"},
    {"local/toolbar.htm", "%2d. Toolbar", "%2d. Barre d'outils"},
    {"local/windows/main.htm", "%2d. Main window", "%2d. Fenêtre principale"},
    {"local/windows/content.htm", "%2d. Content view", "%2d. Vue du contenu"},
    {"local/windows/explorer.htm", "%2d. Explorer view", "%2d. Vue explorateur"},
    {"local/windows/statistics.htm", "%2d. Statistics view", "%2d. Vue des statistiques"},
    {"local/windows/extract.htm", "%2d. Extract dialog", "%2d. Boîte d'extraction"},
    {"local/windows/add.htm", "%2d. Add dialog", "%2d. Boîte d'ajout"},
    {"local/options/general.htm", "%2d. General options", "%2d. Options générales"},
    {"local/options/extract.htm", "%2d. Extract options", "%2d. Options d'extraction"},
    {"local/options/addfiles.htm", "%2d. Add options", "%2d. Options d'ajout"},
    {"local/options/password.htm", "%2d. Password options", "%2d. Options du mot de passe"},
    {"local/options/programs.htm", "%2d. Programs options", "%2d. Options des programmes"},
};

}  // namespace quorbel
