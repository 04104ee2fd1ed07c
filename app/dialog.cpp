// The dialog's logic: dispatch and the three handlers, over the operations of frontend.h.
// Pairs with dialog.h; the platform folders forward their window messages here.
#include "app/dialog.h"

#include <climits>
#include <cstdint>
#include <string>
#include <utility>

#include "app/resource.h"
#include "audio/music.h"
#include "editor/character_file.h"
#include "editor/experience_table.h"

namespace {

constexpr int NAME_BUFFER_BYTES = 100;
// With the terminator, so at most 98 characters of the name reach the level change.
constexpr int NAME_TEXT_LIMIT = 99;

// Filled once by onInitDialog and kept until the process ends; dialog's thread only.
ExperienceTable experienceTable;

// The editor's messages have no owner, so the dialog stays usable while one is open.
void showEditorMessage(const EditorMessage& message) {
  frontEnd().messageBox(nullptr, message.text.c_str(), message.caption.c_str());
}

}  // namespace

std::intptr_t dispatchDialogMessage(DialogHandle dialog, unsigned message, std::uintptr_t wParam,
                                    std::intptr_t) {
  switch (message) {
    case MESSAGE_INITDIALOG:
      return onInitDialog(dialog);
    case MESSAGE_COMMAND:
      onCommand(dialog, static_cast<int>(wParam & 0xFFFF),
                static_cast<int>((wParam >> 16) & 0xFFFF));
      return 0;
    case MESSAGE_CLOSE:
      onClose(dialog);
      return 0;
    default:
      return 0;
  }
}

int onInitDialog(DialogHandle dialog) {
  // First, so the music already plays while the table loads and while its error is shown.
  startMusic(builtinModuleImage);
  frontEnd().setDialogIcon(dialog);
  ExperienceTableLoad load = loadExperienceTable();
  if (load.failure) {
    showEditorMessage(*load.failure);
    // The music is not stopped and the dialog never shows.
    frontEnd().exitProcess(0);
    return 1;
  }
  experienceTable = std::move(load.table);
  // Decimal without padding, in ascending order; the list does not sort.
  for (std::size_t level = 1; level <= experienceTable.size(); ++level) {
    frontEnd().addListEntry(dialog, IDC_LEVEL, std::to_string(level).c_str());
  }
  return 1;
}

void onCommand(DialogHandle dialog, int controlId, int) {
  // Click, Enter (default push button) and Alt+C alike; IDOK (1) and IDCANCEL (2, Escape) are
  // ignored, so Escape does not close the dialog.
  if (controlId != IDC_CHANGE) return;
  char name[NAME_BUFFER_BYTES] = {};
  frontEnd().getItemText(dialog, IDC_NAME, name, NAME_TEXT_LIMIT);
  std::int32_t level = 0;
  if (!frontEnd().getItemInt(dialog, IDC_LEVEL, &level)) {
    frontEnd().messageBox(dialog, "Error In Getting Level Data!", "Error");
    return;
  }
  // INT32_MIN has no level - 1; any negative index lies outside the table all the same.
  showEditorMessage(
      changeCharacterLevel(name, level == INT32_MIN ? -1 : level - 1, experienceTable));
}

void onClose(DialogHandle dialog) {
  // Returns once the playback thread has ended and the device is closed.
  stopMusic();
  frontEnd().endDialog(dialog, 0);
}
