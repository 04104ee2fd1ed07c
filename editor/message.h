// What the editor reports to the operator: the text and caption of one message box with a
// single OK button. The dialog shows each with no owner, so it stays usable while one is open.
#pragma once

#include <string>

struct EditorMessage {
  std::string text;
  std::string caption;
  bool operator==(const EditorMessage&) const = default;
};
