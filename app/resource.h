// Resource ids of the dialog template and icon; shared by the resource script, the dialog
// logic and the FLTK window.
#pragma once

#define IDD_MAIN 9
#define IDI_MAIN 104
#define IDC_NAME 1001
#define IDC_LEVEL 1003
#define IDC_CHANGE 1004
