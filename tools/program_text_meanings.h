// The program's Japanese messages and status texts, which the tools show as the program does,
// followed by their English meaning in a run that does not speak Japanese.
#ifndef TOOLS_PROGRAM_TEXT_MEANINGS_H
#define TOOLS_PROGRAM_TEXT_MEANINGS_H

#include <string>
#include <string_view>

namespace cli {

// The English meaning of one of the program's texts (code page 932), or "" for a text that
// is not one of them. A "送信エラー" text keeps its numbers: "send error 7:2".
std::string EnglishMeaning(std::string_view text);

// " (<meaning>)" to follow the program's text on the terminal, or "" when this run speaks
// Japanese or the text has no meaning to add.
std::string MeaningAfter(std::string_view text);

}  // namespace cli

#endif  // TOOLS_PROGRAM_TEXT_MEANINGS_H
