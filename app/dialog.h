// The dialog's logic, free of any windowing platform: the dispatch of dialogProc and its
// three handlers. A front end (app/win32, app/fltk) forwards its window messages here and
// provides the operations of frontend.h.
#pragma once

#include <cstdint>

#include "app/frontend.h"

// Message numbers as the Win32 dialog manager sends them; other front ends send the same.
constexpr unsigned MESSAGE_INITDIALOG = 0x0110;
constexpr unsigned MESSAGE_COMMAND = 0x0111;  // wParam: LOWORD control id, HIWORD notification
constexpr unsigned MESSAGE_CLOSE = 0x0010;

// The body of dialogProc: runs the handler of message and gives the dialog procedure's
// result (1 for MESSAGE_INITDIALOG, so the platform focuses the first tab stop; 0 otherwise).
std::intptr_t dispatchDialogMessage(DialogHandle dialog, unsigned message, std::uintptr_t wParam,
                                    std::intptr_t lParam);

int onInitDialog(DialogHandle dialog);
void onCommand(DialogHandle dialog, int controlId, int notificationCode);
void onClose(DialogHandle dialog);
