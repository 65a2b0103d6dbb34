#include "tool_operator.h"

#include "program_text_meanings.h"

void ToolOperator::Alert(const std::string& message) {
  HeadlessOperator::Alert(message);
  ExplainFileFailure(ProgramName(), message, files_);
}

std::string ToolOperator::Shown(const std::string& text) const {
  return TextForTerminal(text) + cli::MeaningAfter(text);
}
