// The Win32 front end: WinMain, the dialog procedure, the FrontEnd operations over the
// dialog manager and the level list's key mends for Wine. Pairs with level_editor.rc; the
// dialog's logic lives in app/dialog.cpp.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "app/dialog.h"
#include "app/frontend.h"
#include "app/resource.h"

namespace {

HINSTANCE programInstance = nullptr;  // the module given to WinMain; the icon is loaded from it

HWND windowOf(DialogHandle dialog) { return static_cast<HWND>(dialog); }

void getItemText(DialogHandle dialog, int id, char* buffer, int bufferBytes) {
  GetDlgItemTextA(windowOf(dialog), id, buffer, bufferBytes);
}

bool getItemInt(DialogHandle dialog, int id, std::int32_t* value) {
  BOOL translated = FALSE;
  // Signed mode: the UINT carries the int's two's-complement bits.
  const UINT bits = GetDlgItemInt(windowOf(dialog), id, &translated, TRUE);
  *value = static_cast<std::int32_t>(bits);
  return translated != FALSE;
}

// The list being filled and the entries it was given. Found once: GetDlgItem asks the Wine
// server for the dialog's children on every call, which is slow over a table of 100 000 levels.
struct ListFill {
  HWND dialog, list;
  int id;
  std::size_t added;
};
ListFill listFill = {};

void addListEntry(DialogHandle dialog, int id, const char* text) {
  if (listFill.dialog != windowOf(dialog) || listFill.id != id)
    listFill = {windowOf(dialog), GetDlgItem(windowOf(dialog), id), id, 0};
  // Room for as many entries again whenever the count reaches a power of two from 1024, so the
  // list's storage grows 7 times over 100 000 entries; 8 bytes of text each (6 digits and the
  // terminator, rounded up).
  const std::size_t count = listFill.added++;
  if (count >= 1024 && (count & (count - 1)) == 0)
    SendMessageA(listFill.list, CB_INITSTORAGE, count, static_cast<LPARAM>(count * 8));
  SendMessageA(listFill.list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void setDialogIcon(DialogHandle dialog) {
  HICON icon = LoadIconA(programInstance, MAKEINTRESOURCEA(IDI_MAIN));
  if (icon != nullptr)
    SendMessageA(windowOf(dialog), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

void messageBox(DialogHandle owner, const char* text, const char* caption) {
  MessageBoxA(windowOf(owner), text, caption, MB_OK);
}

void endDialog(DialogHandle dialog, int result) { EndDialog(windowOf(dialog), result); }

void exitProcess(int code) { ExitProcess(static_cast<UINT>(code)); }

const FrontEnd win32FrontEnd = {getItemText, getItemInt,  addListEntry, setDialogIcon,
                                messageBox,  endDialog,   exitProcess};

// Wine's combobox (8.0) parts from the native one in two keys, which the level list's
// subclass mends:
// - While nothing is selected, its list turns any navigation key into "select the caret
//   entry", which is the first, so End chose "1". With that entry selected first, End moves
//   on to the last entry as it does from any selection; the one notification is End's own.
// - It keeps every WM_SYSKEYDOWN but Alt+Up/Down, its drop-down keys, from DefWindowProc,
//   which turns Alt+F4 into SC_CLOSE: with the focus on the list, Alt+F4 did not close the
//   dialog. The native combobox passes them on, as here.
WNDPROC comboBoxProc = nullptr;

LRESULT CALLBACK levelListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && wParam == VK_END &&
      SendMessageA(list, CB_GETCURSEL, 0, 0) == CB_ERR)
    SendMessageA(list, CB_SETCURSEL, 0, 0);
  if (message == WM_SYSKEYDOWN && wParam != VK_UP && wParam != VK_DOWN)
    return DefWindowProcA(list, message, wParam, lParam);
  return CallWindowProcA(comboBoxProc, list, message, wParam, lParam);
}

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_INITDIALOG)
    return static_cast<INT_PTR>(dispatchDialogMessage(dialog, message, wParam, lParam));
  // The initialisation fills the level list: no redraw (nor scroll bar update) per entry, one
  // repaint once it is full. The subclass comes after, so the entries skip it.
  HWND list = GetDlgItem(dialog, IDC_LEVEL);
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  const INT_PTR result = static_cast<INT_PTR>(dispatchDialogMessage(dialog, message, wParam, lParam));
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  comboBoxProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(levelListProc)));
  return result;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  programInstance = instance;
  setFrontEnd(&win32FrontEnd);
  // The exit code is 0 on every path, also if the template could not be loaded (-1).
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, dialogProc, 0);
  return 0;
}
