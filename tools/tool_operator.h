// The front end on the terminal that kvx-transfer and kvx-convert share: the program's messages
// as the window words them, followed by their English meaning in a run that does not speak
// Japanese, and after a message about a file or a folder the reason it failed.
#ifndef TOOLS_TOOL_OPERATOR_H
#define TOOLS_TOOL_OPERATOR_H

#include <string>
#include <utility>

#include "headless_operator.h"
#include "listed_file_system.h"

class ToolOperator : public HeadlessOperator {
 public:
  ToolOperator(std::string programName, ListedFileSystem& files)
      : HeadlessOperator(std::move(programName)), files_(files) {}

  void Alert(const std::string& message) override;

 protected:
  std::string Shown(const std::string& text) const override;

 private:
  ListedFileSystem& files_;
};

#endif  // TOOLS_TOOL_OPERATOR_H
