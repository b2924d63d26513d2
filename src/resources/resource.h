// Control ids of the updater's dialogs, grouped by dialog. Included by the
// resource script and by the C++ side; keep it to plain #defines.
#pragma once

// Application icon.
#define IDI_APPLICATION_ICON 1

// "MAINDIALOG": the start-up window. Slot 0 is the lowest button of the
// column, slots count upwards; slot 8 is the small button at the top right.
#define IDC_MAIN_SLOT0 1000
#define IDC_MAIN_SLOT1 1001
#define IDC_MAIN_SLOT2 1002
#define IDC_MAIN_SLOT3 1003
#define IDC_MAIN_SLOT4 1004
#define IDC_MAIN_SLOT5 1005
#define IDC_MAIN_SLOT6 1006
#define IDC_MAIN_SLOT7 1007
#define IDC_MAIN_SLOT8 1008

// "COPYINGDELUX" and "COPYING": the copy progress window. The Cancel button
// is IDCANCEL (2).
#define IDC_COPY_FILE_BAR 1010
#define IDC_COPY_FILE_NAME 1012
#define IDC_COPY_TOTAL_BAR 1019
#define IDC_COPY_ANIMATION 1020

// "SETUP": the folder prompt. "次へ" is IDOK (1), "ｷｬﾝｾﾙ" IDCANCEL (2).
#define IDC_SETUP_FOLDER 1000
#define IDC_SETUP_BROWSE 1021

// "ENDINSTALL" and "ENDINSTALL_SHORT": the end of the update. OK is IDOK (1);
// the short one has no check box.
#define IDC_END_README 1007
