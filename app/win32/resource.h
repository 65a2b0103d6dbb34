// The ids of KVX-300's resources and of the controls of its dialogs.
#ifndef KVX_RESOURCE_H
#define KVX_RESOURCE_H

#define IDD_ABOUT 100
#define IDS_ABOUT_ENTRY 101
#define IDD_MAIN 102
#define IDR_APP_ICON 128

// The main dialog.
#define IDC_CLOSE 1000
#define IDC_TRANSFER 1019
#define IDC_STATUS 1027
#define IDC_RELATIVE_TIME 1029
#define IDC_ABSOLUTE_TIME 1030

// The about box.
#define IDC_ABOUT_PROGRAM 1101
#define IDC_ABOUT_LIBRARY 1102

// The entry of the main dialog's system menu that opens the about box.
#define ABOUT_COMMAND_ID 0x0010

#endif  // KVX_RESOURCE_H
